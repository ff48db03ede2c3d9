// wordgen's words in JavaScript: the words library compiled to WebAssembly, behind calls
// that take JavaScript values. The module is loaded once, when this file is imported; each
// sequence of words keeps its own generator state, so sequences never disturb each other.

const wasmUrl = new URL('./wordgen.wasm', import.meta.url);

// A syllable count beyond this is refused unless the caller lifts it: a word's memory grows
// with the square of its length (about 2.5 MB at 1,000 syllables), and WebAssembly memory,
// once grown, is never given back.
export const defaultMaxSyllables = 1000;

// The range wordgen uses without -s.
const defaultMin = 1;
const defaultMax = 5;
const defaultCount = 64;
// Lines asked for per call into the module: the buffer bounds them anyway, and this keeps
// a generator from making far more than it hands out.
const batchWords = 4096;

// WordStatus of the library.
const status = { ok: 0, tooLong: 1, noRoom: 2, notOpen: 3 };

const twoTo64 = 1n << 64n;
const int64Min = -(1n << 63n);
const int64Max = (1n << 63n) - 1n;

async function wasmBytes() {
  if (typeof process === 'object' && process.versions?.node && wasmUrl.protocol === 'file:') {
    const { readFile } = await import('node:fs/promises');
    return readFile(wasmUrl);
  }
  const response = await fetch(wasmUrl);
  if (!response.ok) throw new Error(`wordgen: cannot load ${wasmUrl}: ${response.status}`);
  return response.arrayBuffer();
}

// Node 18 keeps Web Crypto out of the global scope.
const webCrypto = globalThis.crypto ?? (await import('node:crypto')).webcrypto;

const { instance } = await WebAssembly.instantiate(await wasmBytes(), {});
const wasm = instance.exports;
wasm._initialize();
if (wasm.open() !== 1) throw new Error('wordgen: the WebAssembly module could not take its memory');

const decoder = new TextDecoder();

/**
 * Thrown when a word needs more memory than one word may take (about 10,000 syllables),
 * or than the module can grow to; `words` holds those words() made before it.
 */
export class WordTooLongError extends Error {
  constructor(words) {
    super('wordgen: a word is too long for memory');
    this.name = 'WordTooLongError';
    this.words = words;
  }
}

/** A seed drawn from the platform's cryptographic source, to pass as `seed` and keep. */
export function randomSeed() {
  const words = new BigUint64Array(1);
  webCrypto.getRandomValues(words);
  return words[0];
}

// The seed's 64 bits, as `wordgen -r` reads the same number.
function seedBits(seed) {
  if (typeof seed === 'bigint') return BigInt.asUintN(64, seed);
  if (typeof seed === 'number') {
    if (!Number.isSafeInteger(seed)) throw new TypeError('wordgen: a number seed must be a safe integer; pass larger ones as a BigInt or a string');
    return BigInt.asUintN(64, BigInt(seed));
  }
  if (typeof seed === 'string') {
    if (!/^-?[0-9]+$/.test(seed)) throw new TypeError(`wordgen: the seed "${seed}" is not a decimal integer`);
    return BigInt.asUintN(64, BigInt(seed));
  }
  throw new TypeError('wordgen: a seed is required (a BigInt, a safe integer or a decimal string); randomSeed() draws one');
}

function syllables(value, name) {
  if (typeof value === 'number' && Number.isSafeInteger(value)) return BigInt(value);
  if (typeof value === 'bigint' && value >= int64Min && value <= int64Max) return value;
  throw new TypeError(`wordgen: ${name} must be a safe integer or a BigInt within 64 bits`);
}

function wordCount(count) {
  if (count === Infinity) return Infinity;
  if (typeof count === 'number' && Number.isSafeInteger(count)) return Math.max(count, 0);
  throw new TypeError('wordgen: count must be a safe integer or Infinity');
}

// The options as the module takes them. `min` alone means exactly that many syllables, as
// `wordgen -s MIN` does; a minimum above the maximum gives the minimum.
function settings(options, countDefault) {
  if (options === null || typeof options !== 'object') {
    throw new TypeError('wordgen: pass an options object with at least a seed');
  }
  const seed = seedBits(options.seed);
  const min = syllables(options.min ?? defaultMin, 'min');
  const max = options.max === undefined ? (options.min === undefined ? BigInt(defaultMax) : min) : syllables(options.max, 'max');
  const count = wordCount(options.count ?? countDefault);
  const cap = options.maxSyllables ?? defaultMaxSyllables;
  if (!(typeof cap === 'number' && (cap === Infinity || Number.isSafeInteger(cap)))) {
    throw new TypeError('wordgen: maxSyllables must be a safe integer or Infinity');
  }
  const longest = min < max ? max : min;
  if (cap !== Infinity && longest > BigInt(cap)) {
    throw new RangeError(`wordgen: words of up to ${longest} syllables pass maxSyllables (${cap}); raise it to allow them`);
  }
  return { seed, min, max, count };
}

// One sequence: its generator state between calls into the module.
class Sequence {
  constructor({ seed, min, max }) {
    this.min = min;
    this.max = max;
    wasm.seed(seed);
    this.state = new BigUint64Array(4);
    this.state.set(this.slot());
  }

  slot() {
    return new BigUint64Array(wasm.memory.buffer, wasm.generator(), 4);
  }

  // Up to `wanted` next words as lines, each with its line feed; fewer when the buffer
  // fills. `tooLong`: the word after them could not be held, and the sequence ends there.
  next(wanted) {
    this.slot().set(this.state);
    const result = wasm.fill(this.min, this.max, BigInt(Math.min(wanted, batchWords)));
    this.state.set(this.slot());
    if (result !== status.ok && result !== status.tooLong) {
      throw new Error(`wordgen: the WebAssembly module failed (status ${result})`);
    }
    const bytes = wasm.fill_bytes();
    const text = bytes > 0 ? decoder.decode(new Uint8Array(wasm.memory.buffer, wasm.buffer() >>> 0, bytes)) : '';
    return { text, words: wasm.fill_words(), tooLong: result === status.tooLong };
  }
}

/**
 * `count` words (default 64) of `min` to `max` syllables (default 1 to 5) for `seed`:
 * those of `wordgen -r seed -w count -s min max`.
 */
export function words(options) {
  const { seed, min, max, count } = settings(options, defaultCount);
  if (count === Infinity) throw new RangeError('wordgen: words() needs a finite count; generate() runs on');
  const sequence = new Sequence({ seed, min, max });
  const made = [];
  for (let left = count; left > 0; ) {
    const { text, words, tooLong } = sequence.next(left);
    // Cut where the line feeds are: faster than splitting, which makes an array to copy.
    for (let at = 0, end; (end = text.indexOf('\n', at)) >= 0; at = end + 1) made.push(text.slice(at, end));
    left -= words;
    if (tooLong) throw new WordTooLongError(made);
  }
  return made;
}

// The iterator generate() returns: it cuts one word at a time from the lines of the last
// call into the module, so no word is made into a string before it is asked for.
class WordIterator {
  #sequence;
  #left;
  #text = '';
  #at = 0;
  #tooLong = false;

  constructor(sequence, count) {
    this.#sequence = sequence;
    this.#left = count;
  }

  next() {
    if (this.#left <= 0) return { value: undefined, done: true };
    let end = this.#text.indexOf('\n', this.#at);
    if (end < 0) {
      if (this.#tooLong) {
        this.#left = 0;
        throw new WordTooLongError([]);
      }
      const { text, tooLong } = this.#sequence.next(this.#left);
      this.#text = text;
      this.#at = 0;
      this.#tooLong = tooLong;
      return this.next();
    }
    const value = this.#text.slice(this.#at, end);
    this.#at = end + 1;
    this.#left -= 1;
    return { value, done: false };
  }

  return(value) {
    this.#left = 0;
    return { value, done: true };
  }

  [Symbol.iterator]() {
    return this;
  }
}

/**
 * The same words one at a time, for long runs: endless unless `count` is given. Each
 * iterator keeps its own state, so several can be read by turns. Every word made before
 * a word too long for memory is handed out; then WordTooLongError is thrown, its `words`
 * empty.
 */
export function generate(options) {
  const { seed, min, max, count } = settings(options, Infinity);
  return new WordIterator(new Sequence({ seed, min, max }), count);
}
