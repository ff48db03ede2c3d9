// For CommonJS: the WebAssembly module loads asynchronously, so the calls come from a
// promise: `const { words } = await require('wordgen').load();`.
'use strict';

exports.load = () => import('./wordgen.js');
