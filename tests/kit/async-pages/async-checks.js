// The promise module (corvane-async.js, copied beside this page by the
// test) against the real bridge: what resolves, what rejects and how. The
// report lists each check that saw something else, with what it saw.
import { corvane as promised, CorvaneError, asyncMethods, call } from "./corvane-async.js";

const report = { mismatches: [] };

function expect(check, seen, expected) {
  if (JSON.stringify(seen) !== JSON.stringify(expected))
    report.mismatches.push(`${check}: saw ${JSON.stringify(seen)}, expected ${JSON.stringify(expected)}`);
}

async function outcome(promise) {
  try {
    return { resolved: await promise };
  } catch (e) {
    return { rejected: { name: e.name, message: e.message, isCorvaneError: e instanceof CorvaneError,
                         result: e.result ?? null, method: e.method ?? null } };
  }
}

E2E.run(async () => {
  const dir = corvane.path.tempDir() + "corvane-async-" + corvane.app.md5Digest(String(Date.now())).slice(0, 8);
  corvane.window.createDir(JSON.stringify({ path: dir }));
  corvane.binaryFileWriter.writeTextToFile(JSON.stringify({ filePath: dir + "/a.txt", text: "hello ä" }));

  // Every promised method is a method of the bridge; other members and
  // methods are the bridge's own.
  const missing = [];
  for (const [member, names] of Object.entries(asyncMethods))
    for (const name of names) if (typeof corvane[member][name] !== "function") missing.push(member + "." + name);
  expect("promised methods the bridge lacks", missing, []);
  expect("same name", promised.app.getAppName() === corvane.app.getAppName(), true);
  expect("same path member", promised.path === corvane.path, true);

  const copied = await outcome(promised.window.copyFile({ src: dir + "/a.txt", dest: dir + "/b.txt" }));
  expect("copied", [copied.resolved?.success, corvane.path.pathIsExist(dir + "/b.txt")], [true, true]);
  const failed = (await outcome(promised.window.copyFile({ src: dir + "/none.txt", dest: dir + "/c.txt" }))).rejected;
  expect("a missing source rejects with a CorvaneError",
         [failed?.isCorvaneError, failed?.method, failed?.result?.success, /is not exists\./.test(failed?.message)],
         [true, "window.copyFile", false, true]);
  // Calls that would never answer are refused at once.
  const noSource = (await outcome(promised.window.copyFile({ dest: dir + "/c.txt" }))).rejected;
  expect("no source", [noSource?.name, noSource?.message], ["TypeError", 'window.copyFile: "src" is required']);
  expect("not an object", (await outcome(promised.window.copyFile("{}"))).rejected?.name, "TypeError");
  expect("unknown method", (await outcome(call("window", "frobnicate", {}))).rejected?.message,
         "corvane.window.frobnicate is not a method of this shell");
  // The text is read on a worker thread whatever the page asked.
  const text = await outcome(promised.binaryFileWriter.getTextFromFile({ filePath: dir + "/a.txt", async: false }));
  expect("text", text.resolved?.content, "hello ä");
  // Several at once settle each with its own answer.
  const both = await Promise.all([
    outcome(promised.window.getFileInfo({ filePath: dir + "/a.txt" })),
    outcome(promised.window.getFileInfo({ filePath: dir + "/none.txt" })),
  ]);
  const settled = both.map((o) => (o.resolved ? "resolved" : o.rejected.message));
  expect("parallel", settled, ["resolved", "file is not exists."]);
  await promised.window.removeDir({ path: dir });
  expect("callbacks left", Object.keys(globalThis.__corvaneAsync), []);
  return report;
}, report);
