// The package's types, declared once here for both module systems: wordgen.d.ts gives them
// to ES modules, and load() gives CommonJS the same calls.

/** A seed as `wordgen -r` takes it: any integer, used modulo 2^64 (so -1 is 2^64 - 1). */
export type Seed = bigint | number | string;

export interface WordOptions {
  /** Required: a BigInt, a safe integer or a decimal string. `randomSeed()` draws one. */
  seed: Seed;
  /** Syllables per word, at least (default 1; alone, exactly this many, as `-s MIN`). */
  min?: number | bigint;
  /** Syllables per word, at most (default 5, or `min` when only `min` is given). */
  max?: number | bigint;
  /**
   * The longest word the range may ask for, in syllables (default 1000): a longer range
   * throws a RangeError before any word is made. `Infinity` lifts it; words beyond some
   * 10,000 syllables then throw WordTooLongError.
   */
  maxSyllables?: number;
}

export interface WordsOptions extends WordOptions {
  /** How many words (default 64); 0 or less gives none. */
  count?: number;
}

export interface GenerateOptions extends WordOptions {
  /** How many words before the iterator ends (default: no end). */
  count?: number;
}

/** Thrown when a word needs more memory than one word may take. */
export interface WordTooLongError extends Error {
  /** The words made before it (from `words()`; empty from `generate()`, which handed them out). */
  readonly words: string[];
}

export interface WordTooLongErrorConstructor {
  new (words: string[]): WordTooLongError;
  readonly prototype: WordTooLongError;
}

export interface Calls {
  /** The words of `wordgen -r seed -w count -s min max`. */
  words(options: WordsOptions): string[];
  /** The same words one at a time; each iterator keeps its own state. */
  generate(options: GenerateOptions): IterableIterator<string>;
  /** A seed from the platform's cryptographic source, to pass as `seed` and keep. */
  randomSeed(): bigint;
  /** The longest word, in syllables, that a range may ask for unless `maxSyllables` says otherwise. */
  readonly defaultMaxSyllables: number;
  readonly WordTooLongError: WordTooLongErrorConstructor;
}

/** Loads the WebAssembly module and gives the package's calls. */
export declare function load(): Promise<Calls>;
