// Runs one SQL statement in DuckDB (its Node API, two threads) and prints
// the rows of its result as JSON: bench/run's DuckDB peer.
//
//     node bench/duckdb-query.js DIR SQL
//
// DIR is a folder where `npm install @duckdb/node-api` was run; it is kept
// outside the repository.
const { createRequire } = require('node:module');
const path = require('node:path');

const [dir, sql] = process.argv.slice(2);
const { DuckDBInstance } =
    createRequire(path.join(path.resolve(dir), 'bench.js'))('@duckdb/node-api');

(async () => {
    const db = await DuckDBInstance.create(':memory:', { threads: '2' });
    const con = await db.connect();
    const result = await con.runAndReadAll(sql);
    console.log(JSON.stringify(result.getRows(),
        (k, v) => (typeof v === 'bigint' ? v.toString() : v)));
})();
