// browser.mjs PACKAGE_DIR: headless Chromium loads the installed package from a file server
// on 127.0.0.1 and sends back the words it made; they must be those of the native wordgen
// named by WORDGEN. Exits with 0 when they are.
import { createServer } from 'node:http';
import { readFile, mkdtemp, rm } from 'node:fs/promises';
import { spawn, spawnSync } from 'node:child_process';
import { tmpdir } from 'node:os';
import path from 'node:path';

const packageDir = path.resolve(process.argv[2] ?? 'node_modules/wordgen');
const wordgen = process.env.WORDGEN;
const chromium = process.env.CHROMIUM ?? 'chromium';
const waitMs = 120_000;
const headerLines = 3;

// Seeds and ranges as `wordgen -r SEED -w COUNT -s MIN MAX` takes them; the page passes
// the seed as a string, and as a BigInt where it fits no number.
const cases = [
  { seed: '0', count: 200, min: 1, max: 5 },
  { seed: '1', count: 100, min: 1, max: 40 },
  { seed: '9007199254740993', count: 100, min: 3, max: 3 },
  { seed: '18446744073709551615', count: 100, min: 5, max: 2 },
  { seed: '-5', count: 100, min: 0, max: 0 },
  { seed: '42', count: 20000, min: 1, max: 5 },
];

function nativeWords({ seed, count, min, max }) {
  const run = spawnSync(wordgen, ['-r', seed, '-w', String(count), '-s', String(min), String(max)], {
    encoding: 'latin1',
    maxBuffer: 1 << 30,
  });
  if (run.status !== 0) throw new Error(`wordgen -r ${seed} fails`);
  return run.stdout.split('\n').slice(headerLines, -1);
}

const page = `<!doctype html>
<meta charset="utf-8">
<title>wordgen</title>
<script type="module">
  const cases = ${JSON.stringify(cases)};
  let result;
  try {
    const { words, generate } = await import('/wordgen/wordgen.js');
    result = cases.map((c, i) => {
      const seed = i % 2 ? BigInt(c.seed) : c.seed;
      const made = words({ seed, count: c.count, min: c.min, max: c.max });
      const one = [...generate({ seed, count: c.count, min: c.min, max: c.max })];
      return one.join('\\n') === made.join('\\n') ? made : ['generate() differs from words()'];
    });
  } catch (error) {
    result = String(error && error.stack || error);
  }
  await fetch('/result', { method: 'POST', body: JSON.stringify(result) });
</script>`;

const types = { '.js': 'text/javascript', '.wasm': 'application/wasm', '.json': 'application/json' };
let resolveResult;
const resultArrived = new Promise((resolve) => (resolveResult = resolve));

const server = createServer(async (request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  if (request.method === 'POST' && url.pathname === '/result') {
    let body = '';
    for await (const chunk of request) body += chunk;
    response.end('ok');
    resolveResult(JSON.parse(body));
    return;
  }
  if (url.pathname === '/') {
    response.setHeader('content-type', 'text/html');
    response.end(page);
    return;
  }
  const name = url.pathname.startsWith('/wordgen/') ? path.basename(url.pathname) : null;
  try {
    if (!name) throw new Error('not here');
    const bytes = await readFile(path.join(packageDir, name));
    response.setHeader('content-type', types[path.extname(name)] ?? 'application/octet-stream');
    response.end(bytes);
  } catch {
    response.statusCode = 404;
    response.end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const address = `http://127.0.0.1:${server.address().port}/`;

const profile = await mkdtemp(path.join(tmpdir(), 'wordgen-chromium-'));
const browser = spawn(chromium, ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
  `--user-data-dir=${profile}`, address], { stdio: ['ignore', 'ignore', 'pipe'] });
let browserLog = '';
browser.stderr.on('data', (chunk) => (browserLog += chunk));

let timer;
const timeout = new Promise((resolve) => (timer = setTimeout(() => resolve('no result within the time allowed'), waitMs)));
const result = await Promise.race([resultArrived, timeout]);
clearTimeout(timer);
browser.kill();
server.close();
if (browser.exitCode === null && browser.signalCode === null) await new Promise((resolve) => browser.once('exit', resolve));
await rm(profile, { recursive: true, force: true });

if (!Array.isArray(result)) {
  console.error(`chromium: ${result}\n${browserLog.slice(-2000)}`);
  process.exit(1);
}
let words = 0;
for (const [i, c] of cases.entries()) {
  const wanted = nativeWords(c);
  if (JSON.stringify(result[i]) !== JSON.stringify(wanted)) {
    console.error(`chromium: seed ${c.seed} range ${c.min} ${c.max}: other words than wordgen's`);
    process.exit(1);
  }
  words += wanted.length;
}
console.error(`chromium made the same ${words} words as wordgen in ${cases.length} cases`);
