#!/usr/bin/env node
// Runs node-pkware's implode or explode over standard input and writes the
// result to standard output. The reference is used as a black box by the
// differential tests and the benchmark.
//
//   node pkware.js implode binary|ascii 1024|2048|4096 [--time] < in > out
//   node pkware.js explode [--time] < in > out
//
// Input is fed in 64 KiB chunks. With --time the time spent inside the
// transform (from the first chunk to the end of output, without node's
// start-up and without reading standard input) goes to standard error as
// "elapsed-ms N". Exit code 0 on success, 1 when the reference reports an
// error, 2 on a usage error.
import { Readable, Writable } from 'node:stream'
import { implode, explode, stream, Compression, DictionarySize } from 'node-pkware'

const CHUNK = 65536

function usage() {
  process.stderr.write('usage: pkware.js implode binary|ascii 1024|2048|4096 [--time] | explode [--time]\n')
  process.exit(2)
}

const args = process.argv.slice(2)
const timing = args.includes('--time')
const positional = args.filter((a) => a !== '--time')

let handler
if (positional[0] === 'implode' && positional.length === 3) {
  const type = { binary: Compression.Binary, ascii: Compression.Ascii }[positional[1]]
  const size = { 1024: DictionarySize.Small, 2048: DictionarySize.Medium, 4096: DictionarySize.Large }[positional[2]]
  if (type === undefined || size === undefined) usage()
  handler = implode(type, size)
} else if (positional[0] === 'explode' && positional.length === 1) {
  handler = explode()
} else {
  usage()
}

async function readAll() {
  const parts = []
  for await (const part of process.stdin) parts.push(part)
  return Buffer.concat(parts)
}

const input = await readAll()
const chunks = []
for (let i = 0; i < input.length; i += CHUNK) chunks.push(input.subarray(i, i + CHUNK))

const output = []
const started = process.hrtime.bigint()
try {
  await new Promise((resolve, reject) => {
    const sink = new Writable({
      write(chunk, _encoding, callback) {
        output.push(chunk)
        callback()
      },
    })
    sink.on('finish', resolve)
    sink.on('error', reject)
    const transform = stream.through(handler)
    transform.on('error', reject)
    Readable.from(chunks, { objectMode: false }).pipe(transform).pipe(sink)
  })
} catch (error) {
  process.stderr.write(`pkware.js: ${error && error.message ? error.message : error}\n`)
  process.exit(1)
}
const elapsed = Number(process.hrtime.bigint() - started) / 1e6
if (timing) process.stderr.write(`elapsed-ms ${elapsed.toFixed(3)}\n`)
const result = Buffer.concat(output)
process.stdout.write(result, () => process.exit(0))
