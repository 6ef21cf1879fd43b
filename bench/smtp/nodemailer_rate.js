// SPDX-License-Identifier: Apache-2.0
// Messages per second that nodemailer's pooled transport sends to a local
// server: the same 1 KiB body and headers as the other senders, COUNT
// messages (default 1000) over one pooled connection that is kept for all
// of them. Prints the rate and the process's CPU microseconds per message
// (user and system, from getrusage), counted from the first message on
// (making the connection included, as for the other senders) so that
// loading node and the package is left out.
'use strict';

const path = require('path');
const nodemailer = require(path.join(__dirname, 'node_modules', 'nodemailer'));

async function main() {
  const [host, port] = process.argv[2].split(/:(?=[^:]*$)/);
  const count = Number(process.argv[3] || 1000);
  const transport = nodemailer.createTransport({
    pool: true,
    host,
    port: Number(port),
    secure: false,
    ignoreTLS: true,
    maxConnections: 1,
    maxMessages: Infinity,
    name: 'bench.localhost',
  });
  const message = {
    from: 'Bench Sender <bench@example.org>',
    to: 'Reader <reader@example.org>',
    subject: 'Benchmark message',
    text: ('b'.repeat(62) + '\r\n').repeat(16),
  };
  const cpu = process.cpuUsage();
  const start = process.hrtime.bigint();
  // Every message handed to the pool at once: its one connection takes
  // them in turn, as fast as the server answers.
  const sends = [];
  for (let i = 0; i < count; ++i) sends.push(transport.sendMail(message));
  await Promise.all(sends);
  const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  const used = process.cpuUsage(cpu);
  transport.close();
  console.log(
    (count / elapsed).toFixed(1) + ' ' +
      ((used.user + used.system) / count).toFixed(1));
}

main().catch((error) => {
  console.error('nodemailer: ' + error.message);
  process.exit(1);
});
