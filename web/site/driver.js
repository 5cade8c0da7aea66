// The engine's asynchronous driver: carries the reports of one job over a link, gives the engine
// the clock, and lets the page draw and take a Cancel between reports.

const kSend = 0;
const kFetch = 1;
const kDone = 2;

// The page gets a turn (drawing, a Cancel) at least this often: ten times a second is smooth
// enough for a bar and quick enough for a Cancel, and costs a few percent of a paced link.
const kTurnEveryMs = 100;

// A task of its own, after whatever waits (a click, a frame to draw): a message, since a
// timeout nested this deep waits 4 ms or more.
const channel = new MessageChannel();
const waiting = [];
channel.port1.onmessage = () => waiting.shift()();

function turn() {
  return new Promise((resolve) => {
    waiting.push(resolve);
    channel.port2.postMessage(null);
  });
}

// Runs the job started on session to its end; true when it completed. onTurn is called whenever
// the page gets a turn, to show progress.
export async function runJob(session, link, onTurn = () => {}) {
  let lastTurn = performance.now();
  for (;;) {
    const step = session.next(performance.now());
    if (step === kSend) {
      session.sent(await link.send(session.report()));
    } else if (step === kFetch) {
      const answer = await link.fetch();
      if (answer) session.answer().set(answer);
      session.fetched(answer !== null);
    } else {
      onTurn();
      return step === kDone;
    }
    if (performance.now() - lastTurn >= kTurnEveryMs) {
      onTurn();
      await turn();
      lastTurn = performance.now();
    }
  }
}
