// words_bench.mjs WORDGEN PACKAGE_DIR [WORDS]: words per second of the npm package's
// words() and generate() in this Node.js, and of the native wordgen writing the same words
// to /dev/null, in one run and by turns, so that a busy machine weighs on all alike. Each
// figure is the best of its rounds, in words per CPU second (the process's own, or the
// child's for wordgen) and per wall-clock second; the ratios are to native wordgen.
import { spawnSync } from 'node:child_process';
import { performance } from 'node:perf_hooks';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [wordgen, packageDir, wordsArgument] = process.argv.slice(2);
if (!wordgen || !packageDir) {
  console.error('usage: words_bench.mjs WORDGEN PACKAGE_DIR [WORDS]');
  process.exit(2);
}
const { words, generate } = await import(pathToFileURL(path.join(path.resolve(packageDir), 'wordgen.js')).href);

// Enough words for each round to take about a second natively, on the machine it was written on.
const wordsPerRound = Number(wordsArgument ?? 20_000_000);
const rounds = 5;
const seed = 1;

// CPU seconds of one call of `work`, which returns the words it made, and its wall seconds.
function measure(work) {
  const cpuBefore = process.cpuUsage();
  const wallBefore = performance.now();
  const made = work();
  const cpu = process.cpuUsage(cpuBefore);
  return { made, cpu: (cpu.user + cpu.system) / 1e6, wall: (performance.now() - wallBefore) / 1e3 };
}

// bash's `times` prints the children's user and system time on its second line.
function nativeRound() {
  const wallBefore = performance.now();
  const run = spawnSync('bash', ['-c', '"$0" -r "$1" -w "$2" > /dev/null && times', wordgen, String(seed), String(wordsPerRound)], {
    encoding: 'utf8',
  });
  const wall = (performance.now() - wallBefore) / 1e3;
  if (run.status !== 0) throw new Error(`${wordgen} fails: ${run.stderr}`);
  const seconds = run.stdout.trim().split('\n')[1].split(/\s+/).map((t) => {
    const [, minutes, secs] = /^(\d+)m([\d.]+)s$/.exec(t);
    return Number(minutes) * 60 + Number(secs);
  });
  return { made: wordsPerRound, cpu: seconds[0] + seconds[1], wall };
}

// words() in calls of a size a program would ask for.
const callSize = 100_000;
function wordsRound() {
  let made = 0;
  let letters = 0;
  for (let left = wordsPerRound; left > 0; left -= callSize) {
    const batch = words({ seed: seed + left, count: Math.min(callSize, left) });
    made += batch.length;
    letters += batch[0].length;
  }
  if (letters === 0) throw new Error('no letters');
  return made;
}

function generatorRound() {
  let made = 0;
  let letters = 0;
  for (const word of generate({ seed, count: wordsPerRound })) {
    made += 1;
    letters += word.length;
  }
  if (letters === 0) throw new Error('no letters');
  return made;
}

const ways = { 'native wordgen': nativeRound, 'words()': () => measure(wordsRound), 'generate()': () => measure(generatorRound) };
const best = {};
for (let round = 0; round < rounds; ++round) {
  for (const [name, way] of Object.entries(ways)) {
    const { made, cpu, wall } = way();
    const rate = { cpu: made / cpu, wall: made / wall };
    best[name] = { cpu: Math.max(best[name]?.cpu ?? 0, rate.cpu), wall: Math.max(best[name]?.wall ?? 0, rate.wall) };
  }
}

const native = best['native wordgen'];
console.log(`Node.js ${process.versions.node}, ${wordsPerRound} words a round, best of ${rounds} rounds`);
console.log('                  M words/CPU s   M words/s   ratio (CPU)   ratio (wall)');
for (const [name, rate] of Object.entries(best)) {
  console.log(`${name.padEnd(18)}${(rate.cpu / 1e6).toFixed(2).padStart(13)}${(rate.wall / 1e6).toFixed(2).padStart(12)}` +
    `${(rate.cpu / native.cpu).toFixed(2).padStart(14)}${(rate.wall / native.wall).toFixed(2).padStart(15)}`);
}
