// The same package from CommonJS TypeScript: load() gives the calls.
import wordgen = require('wordgen');

async function main(): Promise<void> {
  const { words } = await wordgen.load();
  const made: string[] = words({ seed: 9, count: 2 });
  console.log(made);
}

void main();
