#!/usr/bin/env node
// SPDX-License-Identifier: GPL-3.0-or-later
// A small SMS centre for the SMPP interop tests, built on the npm package
// "smpp". It listens on 127.0.0.1 only, accepts a bind when system_id and
// password are the ones given here (ESME_RINVPASWD otherwise), answers
// submit_sm with a message id of its own, and answers unbind and
// enquire_link. Every PDU it receives is written as one JSON line, before
// its answer goes out, so that a client that has the answer also finds the
// line in the file.
//
// Usage: node smsc.js --port N --system-id ID --password PW [--log FILE]
//
// Lines (one JSON object each):
//   {"direction":"in", "session":S, "command":..., "command_id":...,
//    "command_status":..., "sequence_number":..., "command_length":...,
//    <every body field as the package decodes it>,
//    "sm_length":..., "short_message_hex":"...",   (PDUs with a short_message)
//    "optional_hex":"...",                         (octets after the fields)
//    "pdu_hex":"..."}                              (the whole PDU)
//   {"direction":"out", "session":S, "command":..., "command_status":...,
//    "sequence_number":..., <body fields of the answer>}
//   {"direction":"event", "session":S, "event":"connect"|"close"|"error", ...}
'use strict';

const fs = require('fs');
const smpp = require('smpp');

function usage(message) {
    process.stderr.write(
        (message ? message + '\n' : '') +
            'usage: node smsc.js --port N --system-id ID --password PW [--log FILE]\n');
    process.exit(2);
}

function parseArguments(argv) {
    const options = { port: null, systemId: null, password: null, log: null };
    for (let i = 0; i < argv.length; i++) {
        const name = argv[i];
        const value = argv[i + 1];
        if (value === undefined) {
            usage('missing value after ' + name);
        }
        switch (name) {
            case '--port':
                options.port = Number(value);
                break;
            case '--system-id':
                options.systemId = value;
                break;
            case '--password':
                options.password = value;
                break;
            case '--log':
                options.log = value;
                break;
            default:
                usage('unknown option ' + name);
        }
        i++;
    }
    if (!Number.isInteger(options.port) || options.port <= 0 || options.port > 65535) {
        usage('--port needs a port number');
    }
    if (options.systemId === null || options.password === null) {
        usage('--system-id and --password are needed');
    }
    return options;
}

const options = parseArguments(process.argv.slice(2));
const logFd = options.log ? fs.openSync(options.log, 'a') : 1;

// Buffers as hexadecimal text, dates as ISO text: JSON has neither.
function plain(value) {
    if (Buffer.isBuffer(value)) {
        return value.toString('hex');
    }
    if (value instanceof Date) {
        return isNaN(value.getTime()) ? 'Invalid Date' : value.toISOString();
    }
    if (Array.isArray(value)) {
        return value.map(plain);
    }
    if (value !== null && typeof value === 'object') {
        const out = {};
        for (const key of Object.keys(value)) {
            out[key] = plain(value[key]);
        }
        return out;
    }
    return value;
}

function record(entry) {
    fs.writeSync(logFd, JSON.stringify(entry) + '\n');
}

// The package decodes a PDU from the stream and keeps no copy of its octets;
// this does what its own PDU.fromStream does and keeps them beside the PDU.
smpp.PDU.fromStream = function (stream, commandLength) {
    const rest = stream.read(commandLength - 4);
    if (!rest) {
        return false;
    }
    const head = Buffer.alloc(4);
    head.writeUInt32BE(commandLength, 0);
    const octets = Buffer.concat([head, rest]);
    const pdu = new smpp.PDU(octets);
    Object.defineProperty(pdu, 'octets', { value: octets, enumerable: false });
    return pdu;
};

// The body read with the package's own field types but without its filters:
// the short_message as sent (its length octet and its octets), and whatever
// follows the mandatory fields.
function rawBody(pdu) {
    const out = {};
    const definition = smpp.commands[pdu.command];
    if (!pdu.octets || !definition) {
        return out;
    }
    const params = definition.params || {};
    const end = Math.min(pdu.octets.length, pdu.command_length);
    let offset = 16;
    for (const key of Object.keys(params)) {
        if (offset >= end) {
            break;
        }
        const type = params[key].type;
        const value = type.read(pdu.octets, offset);
        if (key === 'short_message') {
            out.sm_length = pdu.octets[offset];
            out.short_message_hex = value.toString('hex');
        }
        offset += type.size(value);
    }
    out.optional_hex = pdu.octets.slice(Math.min(offset, end), end).toString('hex');
    return out;
}

function describe(pdu, direction, session) {
    const entry = {
        direction: direction,
        session: session,
        command: pdu.command,
        command_id: pdu.command_id,
        command_status: pdu.command_status,
        sequence_number: pdu.sequence_number,
        command_length: pdu.command_length,
    };
    for (const key of Object.keys(pdu)) {
        if (!(key in entry)) {
            entry[key] = plain(pdu[key]);
        }
    }
    if (direction === 'in') {
        Object.assign(entry, rawBody(pdu));
        if (pdu.octets) {
            entry.pdu_hex = pdu.octets.toString('hex');
        }
    }
    return entry;
}

let sessionCount = 0;
let messageCount = 0;

const server = smpp.createServer(function (session) {
    const id = ++sessionCount;
    let bound = false;
    record({ direction: 'event', session: id, event: 'connect' });

    function answer(request, fields) {
        const response = request.response(fields || {});
        // toBuffer fills command_length in; the line shows it as sent.
        response.toBuffer();
        record(describe(response, 'out', id));
        session.send(response);
    }

    session.on('pdu', function (pdu) {
        record(describe(pdu, 'in', id));
        if (pdu.isResponse()) {
            return;
        }
        switch (pdu.command) {
            case 'bind_transmitter':
            case 'bind_transceiver':
            case 'bind_receiver':
                if (bound) {
                    answer(pdu, { command_status: smpp.ESME_RALYBND });
                } else if (pdu.system_id !== options.systemId || pdu.password !== options.password) {
                    answer(pdu, { command_status: smpp.ESME_RINVPASWD });
                } else {
                    bound = pdu.command;
                    answer(pdu, { system_id: 'VantorTestSMSC' });
                }
                break;
            case 'submit_sm':
                if (bound !== 'bind_transmitter' && bound !== 'bind_transceiver') {
                    answer(pdu, { command_status: smpp.ESME_RINVBNDSTS });
                } else {
                    messageCount++;
                    answer(pdu, { message_id: 'VTS' + String(messageCount).padStart(6, '0') });
                }
                break;
            case 'enquire_link':
                answer(pdu);
                break;
            case 'unbind':
                bound = false;
                answer(pdu);
                break;
            case 'unknown':
                answer(pdu);  // generic_nack with ESME_RINVCMDID
                break;
            default:
                answer(pdu, { command_status: smpp.ESME_RINVCMDID });
                break;
        }
    });
    session.on('error', function (error) {
        record({ direction: 'event', session: id, event: 'error', message: String(error.message) });
        session.destroy();
    });
    session.on('close', function () {
        record({ direction: 'event', session: id, event: 'close' });
    });
});

server.on('error', function (error) {
    process.stderr.write('smsc: ' + error.message + '\n');
    process.exit(1);
});
server.listen(options.port, '127.0.0.1', function () {
    process.stdout.write('smsc: listening on 127.0.0.1:' + options.port + '\n');
});
process.on('SIGTERM', function () {
    process.exit(0);
});
