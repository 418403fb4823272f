'use strict';
// The helper client's line building, without a helper.
const { describe, it } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const client = require('../../lib/helper_client');

const { buildPreamble, commandLine, encodeField, HelperClient } = client;

describe('helper client', () => {
  describe('encodeField', () => {
    it('encodes percent, tab, line feed, carriage return and control bytes only', () => {
      assert.equal(encodeField('a%b\tc\nd\re'), 'a%25b%09c%0Ad%0De');
      assert.equal(encodeField('\u0000\u001f\u007f'), '%00%1F%7F');
      assert.equal(encodeField('a=b&c d+ü/é'), 'a=b&c d+ü/é');
      assert.equal(encodeField(12.5), '12.5');
    });
  });

  describe('commandLine', () => {
    it('joins encoded fields with tabs and leaves out undefined ones', () => {
      assert.equal(commandLine('seek', { seconds: 12.5 }), 'seek\tseconds=12.5');
      assert.equal(commandLine('load', { url: 'http://h/a?b=1&c=%', 'opt.start': 10, x: undefined }),
        'load\turl=http://h/a?b=1&c=%25\topt.start=10');
      assert.equal(commandLine('quit'), 'quit');
    });

    it('refuses names and keys that would break the line', () => {
      assert.throws(() => commandLine('a\tb'), { name: 'TypeError', message: 'invalid command name: "a\\tb"' });
      assert.throws(() => commandLine('load', { 'a=b': 1 }), { name: 'TypeError', message: 'invalid field key: "a=b"' });
      assert.throws(() => commandLine('load', { 'opt.%41': 1 }), TypeError);
      assert.throws(() => commandLine('load', { 'k\n': 1 }), TypeError);
    });
  });

  describe('buildPreamble', () => {
    it('keeps the given order through zero-padded keys', () => {
      const entries = Array.from({ length: 12 }, (_, i) => [`o${i}`, i]);
      const fields = buildPreamble(entries).split('\t');
      assert.equal(fields[0], 'mpv-options');
      assert.equal(fields[1], '0000=o0%3D0');
      assert.equal(fields[12], '0011=o11%3D11');
      const keys = fields.slice(1).map((f) => f.split('=')[0]);
      assert.deepEqual(keys, [...keys].sort());  // byte-wise order is the given order
    });

    it('encodes values and accepts an empty option set', () => {
      assert.equal(buildPreamble({ 'demuxer-lavf-o': 'a=b', title: 'x\ty%' }),
        'mpv-options\t0000=demuxer-lavf-o%3Da%3Db\t0001=title%3Dx%09y%25');
      assert.equal(buildPreamble({}), 'mpv-options');
    });
  });

  describe('spawn', () => {
    it('refuses a pixel layout the helper does not name before starting it', () => {
      for (const pixelLayout of ['rgba', 'RGBA-top-down', null, 1]) {
        assert.throws(() => HelperClient.spawn({ pixelLayout, helperPath: '/nonexistent/helper' }), {
          name: 'TypeError',
          message: `pixelLayout must be 'bgra-bottom-up' or 'rgba-top-down', not ${String(pixelLayout)}`,
        });
      }
    });
  });

  describe('declarations', () => {
    it('declare exactly the exports and the client methods', () => {
      const dts = fs.readFileSync(path.join(__dirname, '../../lib/helper_client.d.ts'), 'utf8');
      const declared = [...dts.matchAll(/^export (?:function|class) (\w+)/gm)].map((m) => m[1]);
      assert.deepEqual(declared.sort(), Object.keys(client).sort());
      const body = dts.slice(dts.indexOf('export class HelperClient'));
      const methods = new Set([...body.matchAll(/^  (\w+)\(/gm)].map((m) => m[1]));
      methods.delete('constructor');
      methods.delete('on');
      const implemented = Object.getOwnPropertyNames(HelperClient.prototype)
        .filter((name) => name !== 'constructor' && !name.startsWith('_'));
      assert.deepEqual([...methods].sort(), implemented.sort());
    });
  });
});
