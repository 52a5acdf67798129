// Reads a file of one number per line with Polars (its Node package, every
// thread it finds) and prints one aggregate of the column: bench/run's
// Polars peer.
//
//     node bench/polars-query.js DIR FILE mean|median
//
// DIR is a folder where `npm install nodejs-polars` was run (with the
// native package for this machine, nodejs-polars-linux-x64-gnu); it is kept
// outside the repository.
const { createRequire } = require('node:module');
const path = require('node:path');

const [dir, file, aggregate] = process.argv.slice(2);
const pl = createRequire(path.join(path.resolve(dir), 'bench.js'))('nodejs-polars');

(async () => {
    const column = pl.col('column_1');
    const lf = pl.scanCSV(file, { hasHeader: false })
        .select(aggregate === 'median' ? column.median() : column.mean());
    const df = await lf.collect();
    console.log(String(df.getColumns()[0].get(0)));
})();
