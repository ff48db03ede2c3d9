// For CommonJS: the WebAssembly module loads asynchronously, so the calls come from a
// promise: `require('wordgen').load().then(({ words }) => ...)`.
'use strict';

exports.load = () => import('./wordgen.js');
