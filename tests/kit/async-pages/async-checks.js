// The promise module (corvane-async.js, copied beside this page by the
// test) against the real bridge: what resolves, what rejects and how.
import { corvane as promised, CorvaneError, asyncMethods, call } from "./corvane-async.js";

const report = {};

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
  const write = corvane.binaryFileWriter;
  report.made = corvane.window.createDir(JSON.stringify({ path: dir }));
  write.writeTextToFile(JSON.stringify({ filePath: dir + "/a.txt", text: "hello ä" }));

  // Every promised method is a method of the bridge.
  report.missing = [];
  for (const [member, names] of Object.entries(asyncMethods))
    for (const name of names) if (typeof corvane[member][name] !== "function") report.missing.push(member + "." + name);

  // Other members and methods are the bridge's own.
  report.sameName = promised.app.getAppName() === corvane.app.getAppName();
  report.samePath = promised.path === corvane.path;

  report.copied = await outcome(promised.window.copyFile({ src: dir + "/a.txt", dest: dir + "/b.txt" }));
  report.copyExists = corvane.path.pathIsExist(dir + "/b.txt");
  report.copyMissing = await outcome(promised.window.copyFile({ src: dir + "/none.txt", dest: dir + "/c.txt" }));
  report.noSource = await outcome(promised.window.copyFile({ dest: dir + "/c.txt" }));
  report.notAnObject = await outcome(promised.window.copyFile("{}"));
  report.unknown = await outcome(call("window", "frobnicate", {}));
  report.text = await outcome(promised.binaryFileWriter.getTextFromFile({ filePath: dir + "/a.txt", async: false }));
  // Several at once settle each with its own answer.
  const both = await Promise.all([
    outcome(promised.window.getFileInfo({ filePath: dir + "/a.txt" })),
    outcome(promised.window.getFileInfo({ filePath: dir + "/none.txt" })),
  ]);
  report.parallel = both.map((o) => (o.resolved ? "resolved" : o.rejected.message));
  await promised.window.removeDir({ path: dir });
  report.leftCallbacks = Object.keys(globalThis.__corvaneAsync);
  return report;
}, report);
