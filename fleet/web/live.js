// The station page, live: one tile per target, drawn from a snapshot of the run and kept up to
// date by its events (/api/events: a snapshot first, then the same objects as --json). Board text
// only ever goes into the page as text (textContent), never as markup.
'use strict';

(function () {
    const WORDS = {
        queued: 'queued',
        waiting: 'waiting for a board',
        running: 'running',
        question: 'waiting for the operator',
        passed: 'passed',
        failed: 'failed',
        interrupted: 'interrupted',
        skipped: 'skipped',
    };
    const STAGES = {
        starting: 'starting',
        probing: 'probing',
        erasing: 'erasing',
        uploading: 'uploading',
        checking: 'checking',
        writing: 'writing flash',
        reading: 'reading the flash map',
        question: 'bootloader question',
    };
    const RECONNECT_MS = 1000;

    const grid = document.getElementById('tiles');
    const totals = document.getElementById('totals');
    const link = document.getElementById('link');
    const title = document.getElementById('title');

    let run = null; // the snapshot's run: mode, steps, retries
    let tiles = new Map(); // target -> tile
    let finished = null; // run_finished, once it came

    // Event to tile, in milliseconds, for the figures of make faults (the last 100000).
    window.tvflashLatencies = [];
    const LATENCIES_KEPT = 100000;

    function element(tag, className, parent) {
        const node = document.createElement(tag);
        node.className = className;
        parent.appendChild(node);
        return node;
    }

    function clock(seconds) {
        const s = Math.max(0, Math.floor(seconds));
        const two = (n) => String(n).padStart(2, '0');
        if (s >= 3600) {
            return Math.floor(s / 3600) + ':' + two(Math.floor(s / 60) % 60) + ':' + two(s % 60);
        }
        return Math.floor(s / 60) + ':' + two(s % 60);
    }

    // The reason of a failure as the live view gives it: "FAILED (...)" as the tool wrote it.
    function failureText(verdict) {
        const at = verdict.indexOf('FAILED (');
        if (at >= 0) {
            return verdict.slice(at);
        }
        if (verdict.startsWith('ERROR')) {
            return verdict;
        }
        return verdict === '' ? 'FAILED' : 'FAILED: ' + verdict;
    }

    function makeTile(target) {
        const node = element('section', 'tile', grid);
        node.dataset.target = target;
        const top = element('div', 'top', node);
        const parts = {
            target: element('span', 'target', top),
            clock: element('span', 'clock', top),
            state: element('div', 'state', node),
            detail: element('div', 'detail', node),
            stage: element('div', 'stage', node),
            bar: element('progress', 'bar', node),
            reason: element('div', 'reason', node),
            counts: element('div', 'counts', node),
            version: element('div', 'version', node),
        };
        parts.bar.max = 100;
        parts.target.textContent = target;
        return { node, parts, target, state: 'queued', since: performance.now(), step: null,
            command: '', attempt: null, try: 1, stage: null, percent: null, verdict: '',
            version: '', passed: 0, failed: 0 };
    }

    function show(node, text) {
        node.textContent = text;
        node.hidden = text === '';
    }

    function draw(tile) {
        const p = tile.parts;
        tile.node.dataset.state = tile.state;
        p.state.textContent = WORDS[tile.state] || tile.state;
        const active = tile.state === 'running' || tile.state === 'question';
        const ended = tile.state === 'passed' || tile.state === 'failed' || tile.state === 'interrupted';
        let detail = '';
        if ((active || ended) && tile.step !== null) {
            detail = 'step ' + tile.step + ' of ' + run.steps.length + ' · ' + tile.command;
            if (tile.try > 1) {
                detail += ' · try ' + tile.try + '/' + (run.retries + 1);
            }
        }
        show(p.detail, detail);
        let stage = '';
        if (active && tile.stage) {
            stage = STAGES[tile.stage] || tile.stage;
            if (tile.percent !== null) {
                stage += ' ' + tile.percent + '%';
            }
        }
        show(p.stage, stage);
        p.bar.hidden = !(active && tile.percent !== null);
        if (tile.percent !== null) {
            p.bar.value = tile.percent;
        }
        show(p.reason, tile.state === 'failed' ? failureText(tile.verdict) : '');
        const station = run.mode === 'station';
        show(p.counts, station ? tile.passed + ' passed · ' + tile.failed + ' failed' : '');
        show(p.version, station ? tile.version : '');
        p.clock.textContent = clock((performance.now() - tile.since) / 1000);
    }

    function setState(tile, state) {
        if (tile.state !== state) {
            tile.state = state;
            tile.since = performance.now();
        }
    }

    function drawTotals() {
        const count = {};
        let passed = 0;
        let failed = 0;
        for (const tile of tiles.values()) {
            count[tile.state] = (count[tile.state] || 0) + 1;
            passed += tile.passed;
            failed += tile.failed;
        }
        const n = (state) => count[state] || 0;
        if (run.mode === 'station') {
            totals.textContent = 'station: ' + passed + ' passed, ' + failed + ' failed, ' +
                (n('running') + n('question')) + ' running';
        } else {
            const boards = tiles.size + (tiles.size === 1 ? ' board' : ' boards');
            totals.textContent = boards + ': ' + (n('running') + n('question')) + ' running, ' +
                n('queued') + ' queued, ' + n('passed') + ' passed, ' +
                (n('failed') + n('interrupted')) + ' failed';
        }
        if (finished) {
            totals.textContent += ' · finished, exit status ' + finished.exit_status;
        }
    }

    function applySnapshot(snapshot) {
        run = snapshot;
        finished = snapshot.exit_status === null ? null : { exit_status: snapshot.exit_status };
        title.textContent = 'tvflash-fleet ' + (snapshot.mode === 'station' ? 'station ' : 'run ') +
            snapshot.station;
        grid.replaceChildren();
        tiles = new Map();
        const now = performance.now();
        for (const t of snapshot.targets) {
            const tile = makeTile(t.target);
            Object.assign(tile, {
                state: t.state,
                since: now - t.seconds * 1000,
                step: t.step,
                command: t.command || '',
                attempt: t.attempt,
                try: t.try || 1,
                stage: t.stage,
                percent: t.percent,
                verdict: t.verdict,
                version: t.board_version || '',
                passed: t.passed || 0,
                failed: t.failed || 0,
            });
            tiles.set(t.target, tile);
            draw(tile);
        }
        drawTotals();
    }

    function applyBoardEvent(tile, e) {
        switch (e.event) {
            case 'board_found':
                tile.version = e.board_version;
                setState(tile, 'queued');
                break;
            case 'board_left':
                setState(tile, 'waiting');
                break;
            case 'board_started':
                Object.assign(tile, { attempt: e.attempt, step: 1, command: run.steps[0].command,
                    try: 1, stage: 'starting', percent: null, verdict: '' });
                setState(tile, 'running');
                break;
            case 'step_started':
                Object.assign(tile, { step: e.step, command: e.command, try: e.try,
                    stage: 'starting', percent: null });
                setState(tile, 'running');
                break;
            case 'step_progress':
                Object.assign(tile, { stage: e.stage, percent: e.percent });
                setState(tile, e.stage === 'question' ? 'question' : 'running');
                break;
            case 'step_finished':
                if (e.status !== 'skipped') {
                    tile.verdict = e.verdict;
                }
                break;
            case 'board_finished':
                if (e.status !== 'skipped') {
                    tile[e.status === 'passed' ? 'passed' : 'failed'] += 1;
                }
                setState(tile, e.status);
                break;
        }
    }

    function applyEvent(e) {
        if (!run) {
            return;
        }
        if (e.event === 'run_finished') {
            finished = e;
        } else if (e.target !== undefined && tiles.has(e.target)) {
            const tile = tiles.get(e.target);
            applyBoardEvent(tile, e);
            draw(tile);
        }
        drawTotals();
        const latency = Date.now() - Date.parse(e.time);
        window.tvflashLatencies.push(latency);
        if (window.tvflashLatencies.length > LATENCIES_KEPT) {
            window.tvflashLatencies.shift();
        }
    }

    function setLink(state, text) {
        link.dataset.link = state;
        link.textContent = text;
    }

    function connect() {
        const source = new EventSource('/api/events');
        source.addEventListener('snapshot', (message) => {
            applySnapshot(JSON.parse(message.data));
            setLink('live', 'live');
        });
        source.onmessage = (message) => applyEvent(JSON.parse(message.data));
        source.onerror = () => {
            setLink('lost', finished ? 'the run has ended; waiting for the next one'
                : 'connection lost; reconnecting');
            // The page tries again itself, every second, whatever the browser would do: a new
            // run on the port may take a while to start, and a refusal (too many pages open)
            // would end the browser's own tries.
            source.close();
            setTimeout(connect, RECONNECT_MS);
        };
    }

    setInterval(() => {
        for (const tile of tiles.values()) {
            tile.parts.clock.textContent = clock((performance.now() - tile.since) / 1000);
        }
    }, 1000);
    connect();
})();
