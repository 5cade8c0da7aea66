// Feature reports as WebHID gives them: 64 bytes, or 65 with the report ID 0 in front as some
// Chrome versions on Windows give them; any other shape is no answer, never bytes shifted by one.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { featureAnswer } from '../../web/site/hid_link.js';

test('a feature report becomes the engine\'s 65 bytes, or nothing', () => {
  const body = Uint8Array.from({ length: 64 }, (_, i) => i + 1);
  const cases = [
    { name: '64 bytes', bytes: body, answer: [0, ...body] },
    { name: '65 bytes with a leading 0', bytes: Uint8Array.from([0, ...body]), answer: [0, ...body] },
    { name: '65 bytes with a leading 5', bytes: Uint8Array.from([5, ...body]), answer: null },
    { name: '63 bytes', bytes: body.subarray(1), answer: null },
    { name: 'none', bytes: new Uint8Array(0), answer: null },
  ];
  for (const c of cases) {
    // A view into a larger buffer, as a DataView of a report can be.
    const buffer = new Uint8Array(c.bytes.length + 3);
    buffer.set(c.bytes, 3);
    const got = featureAnswer(new DataView(buffer.buffer, 3, c.bytes.length));
    assert.deepEqual(got && Array.from(got), c.answer, c.name);
  }
});
