// DuckDB as a bench peer for grouped statistics: reads a two-column TSV
// (key, value) and prints "key<TAB>aggregate" per key, on two threads, the
// engine's start-up included in the time.
//
//   NUMTALLY_DUCKDB_DIR=DIR node bench/duckdb-group.js FILE avg|median
//
// DIR is a folder where `npm install @duckdb/node-api` was run; the package
// is never a build or test dependency of numtally.
const { createRequire } = require("module");
const path = require("path");

async function main() {
  const [file, aggregate] = process.argv.slice(2);
  const dir = process.env.NUMTALLY_DUCKDB_DIR;
  const { DuckDBInstance } = createRequire(path.join(dir, "/"))(
    "@duckdb/node-api");
  const instance = await DuckDBInstance.create(":memory:", { threads: "2" });
  const connection = await instance.connect();
  const quoted = file.replace(/'/g, "''");
  const reader = await connection.runAndReadAll(
    `SELECT column0, ${aggregate}(column1) FROM read_csv('${quoted}', ` +
    `delim='\\t', header=false, ` +
    `columns={'column0': 'VARCHAR', 'column1': 'DOUBLE'}) GROUP BY column0`);
  const out = reader.getRows().map(([k, v]) => `${k}\t${v}`);
  process.stdout.write(out.join("\n") + "\n");
}

main().catch((e) => {
  process.stderr.write(String(e) + "\n");
  process.exit(1);
});
