// The site's own server: only the site's files, and no request ends it.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { serveSite } from '../../web/serve.mjs';
import { kSite } from './support/harness.mjs';

test('the server serves the site alone and outlives a malformed request', async () => {
  const server = await serveSite(kSite, 0);
  const base = `http://127.0.0.1:${server.address().port}`;
  try {
    for (const [path, status] of [
      ['/%E0%A4%A', 400],
      ['/..%2F..%2Fetc%2Fpasswd', 403],
      ['/no-such-file', 404],
      ['/', 200],
    ]) {
      assert.equal((await fetch(base + path)).status, status, path);
    }
  } finally {
    server.close();
  }
});
