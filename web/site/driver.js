// The engine's asynchronous driver: carries the reports of one job over a link, gives the engine
// the clock, and lets the page draw and take a Cancel between reports.

const kSend = 0;
const kFetch = 1;
const kDone = 2;

// The page gets a turn (drawing, a Cancel) at least this often.
const kTurnEveryMs = 16;

function turn() {
  return new Promise((resolve) => setTimeout(resolve, 0));
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
