// A TypeScript program on the installed package: type-checked, never run. Each line uses
// the declarations as a program would; the lines marked @ts-expect-error must not check.
import { words, generate, randomSeed, WordTooLongError, defaultMaxSyllables } from 'wordgen';
import type { Seed, WordsOptions } from 'wordgen';

const seed: bigint = randomSeed();
const few: string[] = words({ seed, count: 5 });
const options: WordsOptions = { seed: '18446744073709551615', min: 2, max: 4n, maxSyllables: defaultMaxSyllables };
const more: string[] = words(options);
const iterator: IterableIterator<string> = generate({ seed: 1, min: 3 });
const first: string | undefined = iterator.next().value;
for (const word of generate({ seed: -1, count: 3 })) console.log(word.toUpperCase());
const seeds: Seed[] = [1, 1n, '1'];

try {
  words({ seed: 2, min: 1, max: 30000, maxSyllables: Infinity });
} catch (error) {
  if (error instanceof WordTooLongError) console.log(error.words.length);
}

// @ts-expect-error: the seed is required
words({ count: 3 });
// @ts-expect-error: a seed is not an object
words({ seed: { value: 1 } });
// @ts-expect-error: words are strings
const wrong: number[] = words({ seed: 1 });

console.log(few, more, first, seeds, wrong);
