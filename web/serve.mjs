// A small static server for the built site: `node web/serve.mjs [FOLDER] [PORT]` serves FOLDER
// (build/web/site) on http://127.0.0.1:PORT/ (8080). Loopback only: WebHID counts 127.0.0.1 as a
// secure context, and nothing else on the network sees the page. The tests import serveSite and
// ask for port 0, a free one.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
  '.json': 'application/json',
  '.png': 'image/png',
  '.bin': 'application/octet-stream',
};

// Resolves with the listening server; server.address().port is the port.
export function serveSite(folder, port = 0, host = '127.0.0.1') {
  const root = resolve(folder);
  const server = createServer(async (request, response) => {
    let path;
    try {
      path = decodeURIComponent(new URL(request.url, 'http://x').pathname);
    } catch {
      // A malformed escape: an error thrown here would end the server.
      response.writeHead(400).end();
      return;
    }
    const file = normalize(join(root, path.endsWith('/') ? `${path}index.html` : path));
    if (file !== root && !file.startsWith(root + sep)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, {
        'Content-Type': kTypes[extname(file)] || 'application/octet-stream',
        'Cache-Control': 'no-cache',
        // Cross-origin isolated (the site loads nothing from elsewhere): the page's clock then
        // has microseconds, which the benchmarks need.
        'Cross-Origin-Opener-Policy': 'same-origin',
        'Cross-Origin-Embedder-Policy': 'require-corp',
      });
      response.end(body);
    } catch {
      response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
    }
  });
  return new Promise((done, failed) => {
    server.once('error', failed);
    server.listen(port, host, () => done(server));
  });
}

if (process.argv[1] && resolve(process.argv[1]) === fileURLToPath(import.meta.url)) {
  const folder = process.argv[2] || 'build/web/site';
  const port = Number(process.argv[3] || 8080);
  const server = await serveSite(folder, port);
  console.log(`kelm web: serving ${folder} on http://127.0.0.1:${server.address().port}/ (Ctrl-C ends it)`);
}
