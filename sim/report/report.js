(() => {
  'use strict';
  const dataNode = document.getElementById('report-data');
  if (!dataNode) return;
  const data = JSON.parse(dataNode.textContent);
  const frames = data.frames;
  const $ = (id) => document.getElementById(id);
  const viewer = $('viewer');
  if (!viewer || frames.length === 0) return;
  const picture = $('v-picture');
  const inset = $('v-inset');
  const slider = $('v-slider');
  const playButton = $('v-play');
  const playIcon = playButton.querySelector('path');
  const kPlay = 'M5 3v10l8-5z';
  const kPause = 'M4 3h3v10H4zM9 3h3v10H9z';
  const speed = $('v-speed');
  const cursor = $('tl-cursor');
  const timeline = $('tl');
  const keyIndexes = frames.map((f, i) => (f.k ? i : -1)).filter((i) => i >= 0);
  const figures = new Map();
  document.querySelectorAll('figure.key').forEach((fig) => figures.set(Number(fig.dataset.i), fig));

  // A copy of a frame's picture. Each copy gets its own ids, so that what it
  // fills with points at its own definitions.
  let copies = 0;
  function pictureOf(i, viewBox) {
    const template = $('fr-' + i);
    const svg = template.content.querySelector('svg').cloneNode(true);
    const suffix = '-' + (++copies);
    const renamed = new Map();
    svg.querySelectorAll('[id]').forEach((el) => {
      renamed.set(el.id, el.id + suffix);
      el.id += suffix;
    });
    if (renamed.size > 0) {
      svg.querySelectorAll('*').forEach((el) => {
        for (const attr of Array.from(el.attributes)) {
          if (attr.value.includes('url(#')) {
            el.setAttribute(attr.name, attr.value.replace(/url\(#([^)]+)\)/g,
                (m, id) => 'url(#' + (renamed.get(id) || id) + ')'));
          }
        }
      });
    }
    svg.removeAttribute('width');
    svg.removeAttribute('height');
    if (viewBox) svg.setAttribute('viewBox', viewBox.join(' '));
    svg.setAttribute('preserveAspectRatio', 'xMidYMid meet');
    return svg;
  }

  function text(id, value) { $(id).textContent = value; }

  function seconds(f) { return (f / data.fps).toFixed(2) + ' s'; }

  let current = -1;
  function show(i) {
    i = Math.max(0, Math.min(frames.length - 1, i));
    const f = frames[i];
    current = i;
    picture.replaceChildren(pictureOf(i));
    inset.replaceChildren(pictureOf(i, data.inset));
    slider.value = String(i);
    text('v-pos', (i + 1) + ' / ' + frames.length);
    text('v-frame', f.f + '  (' + seconds(f.f) + ' into the run)');
    text('v-time', String(f.t));
    const phase = document.createElement('span');
    phase.className = 'chip ' + f.pc;
    phase.textContent = f.p;
    $('v-phase').replaceChildren(phase);
    text('v-fill', f.fill === null ? 'not drawn' : f.fill.toFixed(1) + ' %');
    text('v-fade', f.fs + (f.fade > 0 ? ', ' + Math.round(f.fade * 100) + ' % black' : ''));
    text('v-death', f.d > 0 ? '#' + f.d : '—');
    text('v-key', f.k || '—');
    $('v-fault-row').hidden = !f.x;
    text('v-fault', f.x || '');
    const list = $('v-calls');
    const items = [];
    for (let c = 0; c < f.c.length;) {
      let run = 1;
      while (c + run < f.c.length && f.c[c + run] === f.c[c]) run++;
      const li = document.createElement('li');
      li.textContent = data.names[f.c[c]];
      if (run > 1) {
        const times = document.createElement('span');
        times.className = 'times';
        times.textContent = ' ×' + run;
        li.append(times);
      }
      items.push(li);
      c += run;
    }
    // The call the run stopped at comes last: the host refused it, or the
    // game stopped in it.
    if (f.r) {
      const li = document.createElement('li');
      li.className = 'refused';
      li.textContent = 'stopped at: ' + f.r;
      items.push(li);
    }
    list.replaceChildren(...items);
    text('v-calls-count', '(' + f.n + (f.n > f.c.length ? ', the first ' + f.c.length + ' listed' : '') +
        (f.r ? ', then the call the run stopped at' : '') + ')');
    if (cursor && timeline) {
      const x = Number(timeline.dataset.left) +
          (f.f + 0.5) / Number(timeline.dataset.frames) * Number(timeline.dataset.width);
      cursor.setAttribute('x1', x);
      cursor.setAttribute('x2', x);
      cursor.setAttribute('visibility', 'visible');
    }
    figures.forEach((fig, k) => fig.classList.toggle('current', k === i));
    viewer.dataset.index = String(i);
    viewer.dataset.frame = String(f.f);
  }

  let timer = null;
  function pause() {
    if (timer !== null) clearTimeout(timer);
    timer = null;
    playIcon.setAttribute('d', kPlay);
    viewer.dataset.playing = 'false';
  }
  function tick() {
    if (current >= frames.length - 1) { pause(); return; }
    const gap = frames[current + 1].f - frames[current].f;
    show(current + 1);
    // At the game's pace, but no gap of skipped frames holds it up long.
    const wait = Math.min(gap, 12) * 1000 / data.fps / Number(speed.value);
    timer = setTimeout(tick, Math.max(wait, 8));
  }
  function play() {
    if (current >= frames.length - 1) show(0);
    playIcon.setAttribute('d', kPause);
    viewer.dataset.playing = 'true';
    timer = setTimeout(tick, 0);
  }
  function toggle() { if (timer === null) play(); else pause(); }
  function step(by) { pause(); show(current + by); }
  function jumpKey(forward) {
    const next = forward ? keyIndexes.find((k) => k > current)
                         : [...keyIndexes].reverse().find((k) => k < current);
    if (next !== undefined) { pause(); show(next); }
  }

  $('v-first').addEventListener('click', () => { pause(); show(0); });
  $('v-last').addEventListener('click', () => { pause(); show(frames.length - 1); });
  $('v-prev').addEventListener('click', () => step(-1));
  $('v-next').addEventListener('click', () => step(1));
  $('v-prev-key').addEventListener('click', () => jumpKey(false));
  $('v-next-key').addEventListener('click', () => jumpKey(true));
  playButton.addEventListener('click', toggle);
  slider.addEventListener('input', () => { pause(); show(Number(slider.value)); });

  document.addEventListener('keydown', (e) => {
    if (e.altKey || e.ctrlKey || e.metaKey) return;
    const tag = e.target && e.target.tagName;
    if (tag === 'INPUT' && e.target !== slider) return;
    if (tag === 'SELECT' || tag === 'TEXTAREA') return;
    // A focused button answers space and enter itself.
    if (tag === 'BUTTON' && (e.key === ' ' || e.key === 'Enter')) return;
    const actions = {
      ArrowLeft: () => step(-1), ArrowRight: () => step(1),
      Home: () => { pause(); show(0); }, End: () => { pause(); show(frames.length - 1); },
      PageUp: () => jumpKey(false), PageDown: () => jumpKey(true), ' ': toggle,
    };
    const action = actions[e.key];
    if (!action) return;
    // The keys that scroll the page do so while the viewer is off screen.
    const box = viewer.getBoundingClientRect();
    const onScreen = box.bottom > 0 && box.top < window.innerHeight;
    if (!onScreen && e.key !== 'ArrowLeft' && e.key !== 'ArrowRight') return;
    e.preventDefault();
    action();
  });

  // The nearest kept frame to a frame of the run.
  function nearest(frame) {
    let lo = 0;
    let hi = frames.length - 1;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (frames[mid].f < frame) lo = mid + 1; else hi = mid;
    }
    if (lo > 0 && frame - frames[lo - 1].f < frames[lo].f - frame) lo--;
    return lo;
  }
  if (timeline) {
    timeline.addEventListener('click', (e) => {
      const key = e.target.closest('[data-i]');
      let index;
      if (key) {
        index = Number(key.dataset.i);
      } else {
        const point = timeline.createSVGPoint();
        point.x = e.clientX;
        point.y = e.clientY;
        const at = point.matrixTransform(timeline.getScreenCTM().inverse());
        const frame = (at.x - Number(timeline.dataset.left)) / Number(timeline.dataset.width) *
            Number(timeline.dataset.frames);
        index = nearest(frame);
      }
      pause();
      show(index);
      viewer.scrollIntoView({ behavior: 'smooth', block: 'nearest' });
    });
  }

  figures.forEach((fig, i) => {
    fig.querySelector('.thumb').append(pictureOf(i));
    fig.querySelector('.thumb-inset').append(pictureOf(i, data.inset));
    const open = () => {
      pause();
      show(i);
      document.getElementById('frames').scrollIntoView({ behavior: 'smooth', block: 'start' });
    };
    fig.addEventListener('click', open);
    fig.addEventListener('keydown', (e) => {
      if (e.key === 'Enter') { e.preventDefault(); open(); }
    });
  });

  show(keyIndexes.length > 0 ? keyIndexes[0] : 0);
})();
