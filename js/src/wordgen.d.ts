import type { Calls, WordTooLongErrorConstructor, WordTooLongError as WordTooLongErrorInstance } from './wordgen.cjs';

export type { Seed, WordOptions, WordsOptions, GenerateOptions } from './wordgen.cjs';

/** The words of `wordgen -r seed -w count -s min max`. */
export declare const words: Calls['words'];
/** The same words one at a time; each iterator keeps its own state. */
export declare const generate: Calls['generate'];
/** A seed from the platform's cryptographic source, to pass as `seed` and keep. */
export declare const randomSeed: Calls['randomSeed'];
/** The longest word, in syllables, that a range may ask for unless `maxSyllables` says otherwise. */
export declare const defaultMaxSyllables: number;
/** Thrown when a word needs more memory than one word may take; `words` holds those made before it. */
export declare const WordTooLongError: WordTooLongErrorConstructor;
export type WordTooLongError = WordTooLongErrorInstance;
