// The records page: the latest rows of the station's record database, newest first, filtered
// by target and status as the address asks, each board linking to its transcript. Board text
// only ever goes into the page as text (textContent), never as markup.
'use strict';

(function () {
    const parameters = new URLSearchParams(location.search);
    const query = new URLSearchParams();
    for (const name of ['target', 'status']) {
        const value = parameters.get(name) || '';
        document.getElementById(name).value = value;
        if (value !== '') {
            query.set(name, value);
        }
    }
    document.getElementById('csv').href = '/records.csv?' + query.toString();

    function cell(row, text, className) {
        const node = document.createElement('td');
        node.textContent = text;
        if (className) {
            node.className = className;
        }
        row.appendChild(node);
        return node;
    }

    function localTime(utc) {
        return utc ? new Date(utc).toLocaleString() : '';
    }

    function draw(rows) {
        const body = document.getElementById('rows');
        body.replaceChildren();
        for (const r of rows) {
            const row = document.createElement('tr');
            row.dataset.status = r.status;
            row.dataset.id = r.id;
            cell(row, r.station);
            const target = cell(row, '');
            const link = document.createElement('a');
            link.href = '/records/' + encodeURIComponent(r.id);
            link.textContent = r.target;
            target.appendChild(link);
            cell(row, r.step + (r.try > 1 ? ' (try ' + r.try + ')' : ''));
            cell(row, r.command);
            cell(row, r.status, 'status');
            cell(row, r.error_class);
            cell(row, r.verdict);
            cell(row, localTime(r.start));
            cell(row, r.seconds === null ? '' : r.seconds.toFixed(3), 'seconds');
            body.appendChild(row);
        }
        document.getElementById('count').textContent =
            rows.length + (rows.length === 1 ? ' row' : ' rows') + ', newest first';
    }

    function notice(text) {
        const node = document.getElementById('notice');
        node.textContent = text;
        node.hidden = false;
    }

    fetch('/api/state', { method: 'HEAD' }).then((answer) => {
        document.getElementById('live').hidden = !answer.ok;
    });
    fetch('/api/records?' + query.toString())
        .then((answer) => answer.json())
        .then((answer) => (answer.error ? notice(answer.error) : draw(answer.rows)))
        .catch(() => notice('The records cannot be read now; reload the page to try again.'));
})();
