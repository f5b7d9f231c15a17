// The page's own thread: controls, showing, saving. The work happens in the
// worker (web/worker.js), started from a blob: address so that the page also
// works opened as a file.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const ui = {
    open: $('open'), file: $('file'), size: $('size'), sizeValue: $('size-value'), compare: $('compare'),
    zoom: $('zoom'), format: $('format'), quality: $('quality'), save: $('save'), progress: $('progress'),
    status: $('status'), notes: $('notes'), view: $('view'), original: $('original'), result: $('result'), hint: $('hint'),
  };
  const source = new Blob([$('worker-source').textContent], {type: 'text/javascript'});
  const worker = new Worker(URL.createObjectURL(source));
  const kernel = Uint8Array.from(atob($('kernel').textContent.trim()), (c) => c.charCodeAt(0));

  let name = 'picture'; // of the picture shown, without its extension
  let picture = null; // {width, height}
  let generation = 0;
  let shownSize = 0;
  let progressTimer = 0;
  let stopped = 0; // runs the worker stopped part way for a newer size
  const pending = new Map(); // what the tests' calls wait for: message type -> resolve
  const ready = new Promise((resolve) => pending.set('ready', resolve));
  worker.postMessage({type: 'init', kernel}, [kernel.buffer]);

  function say(text, error = false) {
    ui.status.textContent = text;
    ui.status.classList.toggle('error', error);
  }
  // What the saved picture cannot be of what was given, one line each: said
  // when the picture opens, and what saving in the chosen format adds.
  let openNotes = [];
  function note(lines) {
    ui.notes.replaceChildren(...lines.map((line) => Object.assign(document.createElement('li'), {textContent: line})));
  }
  function busy(on) {
    clearTimeout(progressTimer);
    if (!on) {
      ui.progress.hidden = true;
      return;
    }
    ui.progress.value = 0;
    // Only a run that takes more than a moment shows its bar.
    progressTimer = setTimeout(() => { ui.progress.hidden = false; }, 250);
  }
  function enable(on) {
    for (const c of [ui.compare, ui.zoom, ui.save]) c.disabled = !on;
    ui.quality.disabled = !on || ui.format.value !== 'jpeg';
  }

  // The worker's bitmap, handed over as it is: the page's thread does no
  // work per pixel, however large the picture.
  function paint(canvas, bitmap) {
    canvas.width = bitmap.width;
    canvas.height = bitmap.height;
    canvas.getContext('bitmaprenderer').transferFromImageBitmap(bitmap);
  }

  const size = () => Number(ui.size.value);
  function filter() {
    if (!picture) return;
    generation += 1;
    busy(true);
    worker.postMessage({type: 'cells', size: size(), generation});
  }

  async function openFile(file) {
    if (!file) return;
    name = (file.name || 'picture').replace(/\.[^.]*$/, '') || 'picture';
    say(`Opening ${file.name || 'the pasted picture'}…`);
    busy(true);
    worker.postMessage({type: 'open', file});
  }

  worker.onmessage = (event) => {
    const m = event.data;
    const waiting = pending.get(m.type);
    if (waiting && !(m.type === 'result' && m.generation !== generation)) {
      pending.delete(m.type);
      waiting(m);
    }
    switch (m.type) {
      case 'opened':
        picture = {width: m.width, height: m.height};
        lay();
        paint(ui.original, m.original);
        ui.hint.hidden = true;
        say(`${name}: ${m.width} x ${m.height} pixels${m.planes % 2 === 0 ? ', with transparency' : ''}.`);
        note(openNotes = m.notes || []);
        enable(false);
        if (!m.quiet) filter();
        break;
      case 'shown':
        paint(ui.original, m.original);
        if (m.result) paint(ui.result, m.result);
        break;
      case 'progress':
        if (m.generation === generation) ui.progress.value = m.done;
        break;
      case 'result':
        if (m.generation !== generation || m.raw) break;
        stopped = m.stopped;
        busy(false);
        paint(ui.result, m.result);
        shownSize = m.size;
        ui.view.setAttribute('aria-label', `${name} in cells of size ${m.size}`);
        say(`${name}: ${picture.width} x ${picture.height} pixels, cells of size ${m.size}.`);
        enable(true);
        break;
      case 'saved': {
        const link = document.createElement('a');
        link.href = URL.createObjectURL(m.blob);
        link.download = `${name}-cells-${m.size}.${m.format === 'jpeg' ? 'jpg' : 'png'}`;
        document.body.append(link);
        link.click();
        link.remove();
        setTimeout(() => URL.revokeObjectURL(link.href), 60000);
        say(`Saved ${link.download}.`);
        note([...openNotes, ...m.notes]);
        break;
      }
      case 'error':
        busy(false);
        if (m.of === 'open') {
          picture = null;
          for (const c of [ui.original, ui.result]) c.width = c.height = 0;
          ui.hint.hidden = false;
          ui.view.setAttribute('aria-label', 'No picture');
          note(openNotes = []);
          enable(false);
        }
        say(m.message, true);
        break;
    }
  };
  worker.onerror = () => say('The page could not start its worker.', true);

  function setSize(value, from) {
    const v = Math.min(100, Math.max(1, Math.round(Number(value)) || 1));
    if (from !== ui.size) ui.size.value = v;
    if (from !== ui.sizeValue || String(v) !== ui.sizeValue.value) ui.sizeValue.value = v;
    filter();
  }
  ui.size.addEventListener('input', () => setSize(ui.size.value, ui.size));
  ui.sizeValue.addEventListener('change', () => setSize(ui.sizeValue.value, ui.sizeValue));
  ui.open.addEventListener('click', () => ui.file.click());
  ui.file.addEventListener('change', () => { openFile(ui.file.files[0]); ui.file.value = ''; });
  ui.format.addEventListener('change', () => { ui.quality.disabled = ui.save.disabled || ui.format.value !== 'jpeg'; });

  function compare(on) {
    ui.view.classList.toggle('comparing', on);
    ui.compare.setAttribute('aria-pressed', String(on));
    if (picture) say(on ? `${name}: the original.` : `${name}: cells of size ${shownSize}.`);
  }
  // At 1:1 the canvases take the picture's own size at once, and the worker
  // sends the whole bitmaps in place of the fitted ones.
  function lay() {
    const on = ui.view.classList.contains('actual') && picture;
    for (const c of [ui.original, ui.result]) {
      c.style.width = on ? `${picture.width}px` : '';
      c.style.height = on ? `${picture.height}px` : '';
    }
  }
  function zoom(on) {
    ui.view.classList.toggle('actual', on);
    ui.zoom.setAttribute('aria-pressed', String(on));
    lay();
    worker.postMessage({type: 'view', whole: on});
  }
  function save() {
    if (ui.save.disabled) return;
    say('Saving…');
    worker.postMessage({type: 'save', format: ui.format.value, quality: Number(ui.quality.value) || 92});
  }
  ui.compare.addEventListener('click', () => compare(!ui.view.classList.contains('comparing')));
  ui.zoom.addEventListener('click', () => zoom(!ui.view.classList.contains('actual')));
  ui.save.addEventListener('click', save);

  // The page's keys work wherever the focus is, the slider and the list
  // included, except in a number field holding a value typed and not yet
  // applied: there the keys are typing, and Enter applies it.
  const typing = new Set();
  for (const field of [ui.sizeValue, ui.quality]) {
    field.addEventListener('input', () => typing.add(field));
    field.addEventListener('change', () => typing.delete(field));
    field.addEventListener('blur', () => typing.delete(field));
    // Enter on a value unchanged applies nothing, and so gives no change event.
    field.addEventListener('keydown', (e) => { if (e.key === 'Enter') typing.delete(field); });
  }
  document.addEventListener('keydown', (e) => {
    if (e.ctrlKey || e.metaKey || e.altKey || typing.has(e.target)) return;
    const key = e.key.toLowerCase();
    if (key === 'c' && !ui.compare.disabled) compare(!ui.view.classList.contains('comparing'));
    else if (key === 'z' && !ui.zoom.disabled) zoom(!ui.view.classList.contains('actual'));
    else if (key === 's' && !ui.save.disabled) save();
    else if (key === 'o') ui.file.click();
    else return;
    e.preventDefault();
  });

  // Panning at 1:1 by dragging; the keys scroll the focused view.
  let drag = null;
  ui.view.addEventListener('pointerdown', (e) => {
    if (!ui.view.classList.contains('actual')) return;
    drag = {x: e.clientX, y: e.clientY, left: ui.view.scrollLeft, top: ui.view.scrollTop};
    ui.view.setPointerCapture(e.pointerId);
  });
  ui.view.addEventListener('pointermove', (e) => {
    if (!drag) return;
    ui.view.scrollLeft = drag.left - (e.clientX - drag.x);
    ui.view.scrollTop = drag.top - (e.clientY - drag.y);
  });
  ui.view.addEventListener('pointerup', () => { drag = null; });

  // Dropping and pasting.
  document.addEventListener('dragover', (e) => { e.preventDefault(); ui.view.classList.add('dropping'); });
  document.addEventListener('dragleave', () => ui.view.classList.remove('dropping'));
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    ui.view.classList.remove('dropping');
    openFile(e.dataTransfer.files[0]);
  });
  document.addEventListener('paste', (e) => {
    const file = [...e.clipboardData.files][0];
    if (file) {
      e.preventDefault();
      openFile(file);
    }
  });

  // For automation and the tests: the page's own worker on pixels given
  // directly (planes 3 or 4, interleaved), the cells' bytes back; and how
  // many runs a newer size stopped part way; and a pause after each band, so
  // that a run lasts long enough for a script to act while it is under way.
  const next = (type) => new Promise((resolve) => pending.set(type, resolve));
  window.cellumbra = {
    get runsStopped() { return stopped; },
    pauseAfterBands(ms) { worker.postMessage({type: 'pause', ms}); },
    async cells(width, height, planes, pixels, cellSize) {
      await ready;
      const opened = next('opened'), failed = next('error');
      worker.postMessage({type: 'open', width, height, planes, pixels, quiet: true});
      const answer = await Promise.race([opened, failed]);
      if (answer.type === 'error') throw new Error(answer.message);
      ui.size.value = ui.sizeValue.value = cellSize;
      generation += 1;
      const result = next('result');
      worker.postMessage({type: 'cells', size: cellSize, generation, raw: true});
      return new Uint8Array((await result).result);
    },
  };
})();
