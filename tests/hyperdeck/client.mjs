// Drives Morvia's HyperDeck-compatible port with the client library that
// control panels use: connect, play, transport info with the timecode
// moving, stop with its transport notification, goto a timecode.
//
//   node client.mjs PORT
//
// Prints one line per step and "PASS" at the end; exits 1 with "FAIL <why>"
// at the first step that goes wrong (or when the whole run takes longer than
// a minute).
import { Hyperdeck, Commands } from 'hyperdeck-connection';

const port = Number(process.argv[2]);
const deck = new Hyperdeck({ pingPeriod: 5000, debug: false, externalLog: (...a) => console.log('log', ...a) });

function fail(why) {
    console.log('FAIL ' + why);
    process.exit(1);
}
setTimeout(() => fail('no result within a minute'), 60000).unref();

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// Asks `ask` again every 100 ms until `ok` holds of its answer (at most 30 s).
async function until(what, ask, ok) {
    let last;
    for (let i = 0; i < 300; ++i) {
        last = await ask();
        if (ok(last)) return last;
        await sleep(100);
    }
    fail(what + ': last ' + JSON.stringify(last));
}

const transportEvents = [];
deck.on('notify.transport', (ev) => transportEvents.push(ev));
deck.on('error', (what, e) => console.log('error', what, String(e)));

deck.on('connected', async (info) => {
    try {
        if (info.protocolVersion !== 1.11) fail('protocol version ' + info.protocolVersion);
        console.log('connected: ' + info.model);

        const notify = new Commands.NotifySetCommand();
        notify.transport = true;
        await deck.sendCommand(notify);

        const info1 = await deck.sendCommand(new Commands.TransportInfoCommand());
        console.log('transport info: ' + info1.status + ' ' + info1.displayTimecode);

        await deck.sendCommand(new Commands.PlayCommand());
        const playing = await until(
            'play',
            () => deck.sendCommand(new Commands.TransportInfoCommand()),
            (t) => t.status === 'play' && t.speed === 100,
        );
        // The timecode moves while the disc plays.
        await until(
            'the timecode moving',
            () => deck.sendCommand(new Commands.TransportInfoCommand()),
            (t) => t.displayTimecode !== playing.displayTimecode && /^\d\d:\d\d:\d\d:\d\d$/.test(t.displayTimecode),
        );
        console.log('playing, timecode moving');

        await deck.sendCommand(new Commands.StopCommand());
        await until(
            'the stop notified',
            async () => transportEvents,
            (evs) => evs.some((e) => e.status === 'stopped'),
        );
        console.log('stop notified');

        await deck.sendCommand(new Commands.GoToCommand(undefined, undefined, '00:00:05:00'));
        await until(
            'goto 00:00:05:00',
            () => deck.sendCommand(new Commands.TransportInfoCommand()),
            (t) => t.displayTimecode === '00:00:05:00' && t.status === 'stopped',
        );
        console.log('at 00:00:05:00');

        // A command the deck refuses is an error answer, and the connection stays.
        let refused = false;
        await deck.sendCommand(new Commands.RecordCommand()).catch(() => (refused = true));
        if (!refused) fail('record was not refused');
        const after = await deck.sendCommand(new Commands.TransportInfoCommand());
        if (after.slotId !== 1) fail('slot id ' + after.slotId);

        console.log('PASS');
        await deck.disconnect();
        process.exit(0);
    } catch (e) {
        fail(JSON.stringify(e) + ' ' + String(e));
    }
});

deck.connect('127.0.0.1', port);
