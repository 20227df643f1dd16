// ESLint for the extension: the service worker and the page answerer are
// browser code with the WebExtension globals (chrome).
import js from '@eslint/js';
import globals from 'globals';

export default [
    {ignores: ['node_modules/']},
    js.configs.recommended,
    {
        files: ['**/*.js'],
        languageOptions: {
            ecmaVersion: 2022,
            sourceType: 'module',
            globals: {...globals.browser, ...globals.webextensions},
        },
        linterOptions: {reportUnusedDisableDirectives: 'error'},
        rules: {
            'eqeqeq': ['error', 'always'], // == null would miss document.all
            'no-var': 'error',
            'prefer-const': 'error',
            'no-implicit-globals': 'error',
            'no-shadow': 'error',
            'no-throw-literal': 'error',
            'no-unused-vars': ['error', {args: 'after-used', caughtErrors: 'all'}],
            'no-eval': 'error',
            'no-implied-eval': 'error',
            'no-new-func': 'error',
            'no-console': ['error', {allow: ['error']}],
        },
    },
    {
        // Put into pages as a classic script (and compiled into larkspool-save).
        files: ['answerer.js'],
        languageOptions: {sourceType: 'script'},
    },
    {
        // Node runs this file itself.
        files: ['eslint.config.js'],
        languageOptions: {globals: globals.node},
    },
];
