// Validates main configurations against data/schema/project.schema.json
// with a JSON Schema 2020-12 validator:
//   node validate-schema.mjs SCHEMA good FILE...   every file must pass
//   node validate-schema.mjs SCHEMA bad FILE...    every file must fail
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";

// ajv comes from the folder check-types.sh installed the tools into.
const require = createRequire(join(process.env.CORVANE_TYPES_WORK ?? dirname(new URL(import.meta.url).pathname), "x.js"));
const Ajv2020 = require("ajv/dist/2020").default;

const [schemaPath, expectation, ...files] = process.argv.slice(2);
const ajv = new Ajv2020({ allErrors: true, strict: true, strictTypes: false });
const validate = ajv.compile(JSON.parse(readFileSync(schemaPath, "utf8")));
let failed = false;
for (const file of files) {
  const ok = validate(JSON.parse(readFileSync(file, "utf8")));
  if (expectation === "good" && !ok) {
    failed = true;
    console.error(`${file}: the schema refuses it:\n${ajv.errorsText(validate.errors, { separator: "\n" })}`);
  } else if (expectation === "bad" && ok) {
    failed = true;
    console.error(`${file}: the schema lets it pass`);
  } else {
    console.log(`${file}: ${ok ? "passes" : "refused, as it must be"}`);
  }
}
process.exit(failed ? 1 : 0);
