// The package as a user installs it, against the native wordgen named by WORDGEN: the same
// words, byte for byte, for a spread of seeds, ranges and counts, made by the program
// during the run. Runs from a folder whose node_modules holds the installed package.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { createRequire } from 'node:module';

import { words, generate, randomSeed, WordTooLongError, defaultMaxSyllables } from 'wordgen';

const wordgen = process.env.WORDGEN;
if (!wordgen) throw new Error('set WORDGEN to the native wordgen program');

// Lines the program prints before its words: the count, the seed and a rule.
const headerLines = 3;
const tooLongLine = 'word too long for memory';

// The words `wordgen -r seed -w count [-s min max]` prints, and whether it stopped at a
// word too long for memory.
function nativeRun(seed, count, range = []) {
  const run = spawnSync(wordgen, ['-r', String(seed), '-w', String(count), ...(range.length ? ['-s', ...range.map(String)] : [])], {
    encoding: 'latin1',
    maxBuffer: 1 << 30,
  });
  const lines = run.stdout.split('\n').slice(headerLines, -1);
  const tooLong = lines.at(-1) === tooLongLine;
  return { words: tooLong ? lines.slice(0, -1) : lines, tooLong, status: run.status };
}

function nativeWords(seed, count, range) {
  const run = nativeRun(seed, count, range);
  assert.equal(run.status, 0, `wordgen -r ${seed} -w ${count} -s ${range} fails`);
  return run.words;
}

// Seeds as the program reads them; each JavaScript form of the same seed is tried.
const seeds = [
  { program: '0', forms: [0, 0n, '0'] },
  { program: '1', forms: [1, '1'] },
  { program: String(2n ** 53n + 1n), forms: [2n ** 53n + 1n, String(2n ** 53n + 1n)] },
  { program: String(2n ** 64n - 1n), forms: [2n ** 64n - 1n, -1, '-1', -1n] },
  { program: '-5', forms: [-5, '-5', 2n ** 64n - 5n] },
  { program: '99999999999999999999', forms: ['99999999999999999999', 99999999999999999999n] },
  { program: '42', forms: [42] },
];

// Syllable ranges as `-s` takes them, with the options that say the same.
const ranges = [
  { program: [], options: {} },
  { program: [1, 1], options: { min: 1, max: 1 } },
  { program: [3, 3], options: { min: 3 } },
  { program: [1, 40], options: { min: 1, max: 40 } },
  { program: [0, 0], options: { min: 0, max: 0 } },
  { program: [5, 2], options: { min: 5, max: 2 } },
  { program: [60, 120], options: { min: 60n, max: 120n } },
];

test('words() gives the program\'s words for every seed and range', () => {
  let compared = 0;
  for (const seed of seeds) {
    for (const range of ranges) {
      const count = range.program[0] >= 60 ? 20 : 300;
      const wanted = nativeWords(seed.program, count, range.program);
      for (const form of seed.forms) {
        assert.deepEqual(words({ seed: form, count, ...range.options }), wanted, `seed ${String(form)} range ${range.program}`);
        compared += count;
      }
    }
  }
  assert.ok(compared > 10000);
});

test('counts: the default, none, one, and many calls into the module', () => {
  assert.deepEqual(words({ seed: 7 }), nativeWords(7, 64));
  assert.deepEqual(words({ seed: 7, count: 0 }), []);
  assert.deepEqual(words({ seed: 7, count: -3 }), []);
  assert.deepEqual(words({ seed: 7, count: 1 }), nativeWords(7, 1));
  // Far more than one call's buffer holds.
  assert.deepEqual(words({ seed: 8, count: 50000 }), nativeWords(8, 50000));
});

test('words long enough to need more than the first block of working memory', () => {
  assert.deepEqual(words({ seed: 14, count: 5, min: 2000, maxSyllables: 2000 }), nativeWords(14, 5, [2000, 2000]));
});

test('generate() gives the same words, one at a time, and stops at its count', () => {
  const wanted = nativeWords(3, 20000, [1, 9]);
  const made = [...generate({ seed: 3, count: 20000, min: 1, max: 9 })];
  assert.deepEqual(made, wanted);
  const endless = generate({ seed: 3, min: 1, max: 9 });
  for (let i = 0; i < 20000; ++i) assert.equal(endless.next().value, wanted[i]);
  assert.equal(endless.next().done, false);
  assert.deepEqual(endless.return(), { value: undefined, done: true });
  assert.equal(endless.next().done, true);
});

test('interleaved sequences keep their own state', () => {
  const a = generate({ seed: 100 });
  const b = generate({ seed: 101, min: 2, max: 9 });
  const gotA = [];
  const gotB = [];
  for (let turn = 0; gotA.length < 6000; ++turn) {
    gotA.push(a.next().value);
    for (let k = 0; k < turn % 3; ++k) gotB.push(b.next().value);
    // words() in between draws from its own sequence too.
    if (turn % 1000 === 0) assert.deepEqual(words({ seed: 102, count: 3 }), nativeWords(102, 3));
  }
  assert.deepEqual(gotA, nativeWords(100, gotA.length));
  assert.deepEqual(gotB, nativeWords(101, gotB.length, [2, 9]));
});

test('a word too long for memory throws with the words before it, and the next call works', () => {
  const native = nativeRun(2, 6, [1, 30000]);
  assert.ok(native.tooLong && native.words.length > 0);
  const options = { seed: 2, count: 6, min: 1, max: 30000, maxSyllables: Infinity };
  assert.throws(() => words(options), (error) => {
    assert.ok(error instanceof WordTooLongError);
    assert.deepEqual(error.words, native.words);
    return true;
  });
  assert.deepEqual(words({ seed: 42, count: 5 }), nativeWords(42, 5));
  assert.deepEqual(words({ seed: 14, count: 2, min: 2000, maxSyllables: 2000 }), nativeWords(14, 2, [2000, 2000]));

  const iterator = generate(options);
  for (const word of native.words) assert.equal(iterator.next().value, word);
  assert.throws(() => iterator.next(), WordTooLongError);
  assert.equal(iterator.next().done, true);
});

test('ranges past maxSyllables are refused before any word', () => {
  assert.equal(defaultMaxSyllables, 1000);
  assert.throws(() => words({ seed: 1, min: 1, max: 1001 }), RangeError);
  assert.throws(() => words({ seed: 1, min: 1001 }), RangeError);
  assert.throws(() => words({ seed: 1, min: 1001, max: 3 }), RangeError);  // gives 1001 syllables
  assert.throws(() => generate({ seed: 1, min: 20, maxSyllables: 19 }), RangeError);
  assert.deepEqual(words({ seed: 1, count: 2, min: 1000 }), nativeWords(1, 2, [1000, 1000]));
});

test('bad options are refused, and there is no default seed', () => {
  assert.throws(() => words(), TypeError);
  assert.throws(() => words({}), TypeError);
  assert.throws(() => words({ seed: 2 ** 53 }), TypeError);
  assert.throws(() => words({ seed: 1.5 }), TypeError);
  assert.throws(() => words({ seed: '12abc' }), TypeError);
  assert.throws(() => words({ seed: ' 12' }), TypeError);
  assert.throws(() => words({ seed: 1, min: 1.5 }), TypeError);
  assert.throws(() => words({ seed: 1, max: 2n ** 63n }), TypeError);
  assert.throws(() => words({ seed: 1, count: Infinity }), RangeError);
  assert.throws(() => words({ seed: 1, count: '3' }), TypeError);
  assert.throws(() => words({ seed: 1, maxSyllables: -Infinity }), TypeError);
});

test('randomSeed() gives seeds that make the words again', () => {
  const seed = randomSeed();
  assert.equal(typeof seed, 'bigint');
  assert.ok(seed >= 0n && seed < 2n ** 64n);
  assert.notEqual(randomSeed(), seed);
  assert.deepEqual(words({ seed, count: 100 }), nativeWords(seed, 100));
});

test('CommonJS loads the same calls', () => {
  const require = createRequire(import.meta.url);
  const script = 'require("wordgen").load().then(({ words }) => process.stdout.write(JSON.stringify(words({ seed: 9, count: 50 }))))';
  const output = execFileSync(process.execPath, ['-e', script], { cwd: process.cwd(), encoding: 'utf8' });
  assert.deepEqual(JSON.parse(output), nativeWords(9, 50));
  assert.equal(typeof require('wordgen').load, 'function');
});
