// The report page's style sheet and script. Everything the page needs is in
// the file: no font, script or picture is fetched, so it opens from disk.
#include "sim/report/report.h"

namespace sim {

const char* const kReportStyle = R"CSS(
:root { --ink: #1d2330; --muted: #5b6472; --line: #d9dde4; --card: #fff; --bg: #eef1f5;
  --accent: #c8262b; --blue: #2f6fd0; }
* { box-sizing: border-box; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, "DejaVu Sans", sans-serif;
  margin: 0; background: var(--bg); color: var(--ink); font-size: 15px; line-height: 1.45; }
header { background: #1d2330; color: #e9edf3; padding: 18px 28px 0; }
header h1 { margin: 0 0 4px; font-size: 24px; font-weight: 650; }
header .meta { margin: 2px 0; color: #b9c2d0; }
header code { color: #fff; }
header .seed { color: #fff; font-size: 1.05em; }
nav { display: flex; gap: 4px; margin-top: 12px; }
nav a { color: #cfd6e2; text-decoration: none; padding: 7px 12px; border-radius: 6px 6px 0 0; }
nav a:hover { background: #2c3445; color: #fff; }
main { padding: 8px 28px 40px; max-width: 1500px; }
section { background: var(--card); border: 1px solid var(--line); border-radius: 10px;
  padding: 6px 20px 16px; margin: 18px 0; box-shadow: 0 1px 2px rgba(20, 30, 50, .05); }
h2 { font-size: 18px; margin: 12px 0 10px; }
h3 { font-size: 14px; margin: 14px 0 6px; color: var(--muted); font-weight: 600; }
.note { color: var(--muted); font-size: 13px; margin: 6px 0; }
.fault { color: #fff; background: var(--accent); padding: 8px 12px; border-radius: 6px; }
table { border-collapse: collapse; margin: 6px 0; font-size: 13px; }
td, th { border-bottom: 1px solid var(--line); padding: 4px 10px; text-align: left; }
th { background: #f5f7fa; font-weight: 600; }
td.num { text-align: right; font-variant-numeric: tabular-nums; }
.legend { display: flex; flex-wrap: wrap; gap: 4px 16px; font-size: 12.5px; color: var(--muted);
  margin: 4px 0; }
.legend span { display: inline-flex; align-items: center; gap: 6px; }
i.sw { display: inline-block; width: 14px; height: 10px; border-radius: 2px; vertical-align: -1px;
  margin-right: 4px; }
.sw-fill { background: var(--accent); height: 3px !important; }
.sw-fade { background: rgba(30, 30, 40, .45); }
.sw-calls { background: #9fb6d6; }
.ph-watching { background: transparent; border: 1px solid var(--line); }
.ph-deathpause { background: #f4d3a1; fill: #f4d3a1; }
.ph-sharddelay { background: #f2b9c0; fill: #f2b9c0; }
.ph-barfilling { background: #fbe7a6; fill: #fbe7a6; }
.ph-respawning { background: #bfd5f2; fill: #bfd5f2; }
i.sym { display: inline-block; width: 12px; height: 12px; }
.sym-death { background: #c0392b; clip-path: polygon(0 0, 100% 0, 50% 100%); }
.sym-tap { width: 2px !important; background: var(--blue); }
.sym-start { background: #2e8b57; border-radius: 50%; }
.sym-load { border: 1.5px solid #555; border-radius: 50%; }
.sym-unload { background: #555; }
.sym-key { background: #d19a00; clip-path: polygon(50% 0, 100% 50%, 50% 100%, 0 50%); }
.sym-mdeath { background: #c0392b; clip-path: polygon(0 15%, 15% 0, 50% 35%, 85% 0, 100% 15%, 65% 50%,
  100% 85%, 85% 100%, 50% 65%, 15% 100%, 0 85%, 35% 50%); }
.sym-centre { background: #7d3c98; clip-path: polygon(40% 0, 60% 0, 60% 40%, 100% 40%, 100% 60%,
  60% 60%, 60% 100%, 40% 100%, 40% 60%, 0 60%, 0 40%, 40% 40%); }
.sym-r100 { border: 2px dashed var(--blue); border-radius: 50%; }
.sym-r300 { border: 2px dashed #c0392b; border-radius: 50%; }
.sym-result { border: 2px solid #e67e22; border-radius: 50%; }
.sym-node { background: #7b8794; width: 9px !important; height: 9px !important; }
.sym-chosen { border: 3px solid #e67e22; border-radius: 50%; background: rgba(230, 126, 34, .25); }
.sym-placed { background: #1e9e55; border-radius: 50%; }

svg.timeline { width: 100%; height: auto; display: block; cursor: crosshair; user-select: none; }
.timeline text { font-size: 11px; fill: var(--muted); }
.timeline text.lane { font-style: italic; }
.timeline text.sec { font-size: 10px; fill: #8a93a3; }
.timeline .grid line { stroke: #e3e7ee; stroke-width: 1; }
.timeline .grid line.faint { stroke: #eef1f5; }
.timeline .tick { stroke: #9aa3b2; }
.timeline .band { opacity: .75; }
.timeline .fade { fill: rgba(25, 28, 38, .30); stroke: #1d2330; stroke-width: .8; }
.timeline .fill { fill: none; stroke: var(--accent); stroke-width: 2.2; stroke-linejoin: round; }
.timeline .calls { fill: #9fb6d6; stroke: #6f8fbd; stroke-width: .6; }
.timeline .calls-avg { fill: none; stroke: #33527d; stroke-width: 1; }
.timeline .mk-0 circle { fill: #fff; stroke: #555; stroke-width: 1.5; }
.timeline .mk-1 circle { fill: #2e8b57; }
.timeline .mk-2 path { fill: #c0392b; }
.timeline .mk-2 .rule { stroke: #c0392b; stroke-opacity: .35; stroke-dasharray: 3 3; }
.timeline .mk-3 line { stroke: var(--blue); stroke-width: 1.2; }
.timeline .mk-4 rect { fill: #555; }
.timeline .keys path { fill: #d19a00; stroke: #fff; stroke-width: .8; cursor: pointer; }
.timeline #tl-cursor { stroke: #111; stroke-width: 1.5; }

.viewer { display: grid; grid-template-columns: minmax(480px, 960px) minmax(300px, 1fr); gap: 20px;
  align-items: start; outline: none; }
.picture { background: #111; border-radius: 6px; overflow: hidden; aspect-ratio: 16 / 9; }
.picture svg, .thumb svg { width: 100%; height: 100%; display: block; }
.controls { display: flex; align-items: center; gap: 6px; margin-top: 10px; }
.controls button { font-size: 14px; min-width: 34px; height: 32px; border: 1px solid var(--line);
  background: #f7f9fc; border-radius: 6px; cursor: pointer; color: var(--ink); }
.controls button:hover { background: #e9eef6; }
.controls button svg { width: 14px; height: 14px; fill: currentColor; display: block;
  margin: auto; }
.controls #v-play { background: var(--accent); color: #fff; border-color: var(--accent);
  min-width: 46px; }
.controls #v-play:hover { background: #a91f24; }
.controls input[type=range] { flex: 1; accent-color: var(--accent); }
.controls .pos { font-variant-numeric: tabular-nums; color: var(--muted); min-width: 80px;
  text-align: right; font-size: 13px; }
.controls select { height: 32px; border-radius: 6px; border: 1px solid var(--line); }
.side h3 { margin-top: 12px; }
table.facts { width: 100%; margin: 0; }
table.facts th { width: 96px; white-space: nowrap; background: none; color: var(--muted); font-weight: 500; }
table.facts td { font-variant-numeric: tabular-nums; }
.chip { display: inline-block; padding: 1px 8px; border-radius: 10px; font-size: 12.5px; }
.inset { background: #111; border-radius: 6px; overflow: hidden; aspect-ratio: 4 / 1; }
.inset svg { width: 100%; height: 100%; display: block; }
ol.calls { margin: 0; padding: 6px 8px 6px 44px; max-height: 260px; overflow: auto;
  font: 12px/1.5 ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace;
  background: #f7f9fc; border: 1px solid var(--line); border-radius: 6px; }
ol.calls .times { color: var(--muted); }
.keys { display: grid; grid-template-columns: repeat(auto-fill, minmax(250px, 1fr)); gap: 12px; }
figure.key { margin: 0; border: 1px solid var(--line); border-radius: 8px; overflow: hidden;
  cursor: pointer; background: #fafbfc; transition: box-shadow .15s; }
figure.key:hover, figure.key:focus { box-shadow: 0 0 0 2px #9fb6d6; outline: none; }
figure.key.current { box-shadow: 0 0 0 3px var(--accent); }
figure.key .thumb { aspect-ratio: 16 / 9; background: #111; }
figure.key .thumb-inset { aspect-ratio: 4 / 1; background: #111; border-top: 1px solid #333; }
figure.key .thumb-inset svg { width: 100%; height: 100%; display: block; }
figure.key figcaption { padding: 6px 10px; font-size: 12.5px; }
.maps { display: grid; grid-template-columns: repeat(auto-fill, minmax(320px, 400px)); gap: 16px; }
figure.map { margin: 0; }
figure.map svg { width: 100%; height: auto; display: block; border-radius: 8px;
  border: 1px solid var(--line); }
figure.map figcaption { font-size: 13px; margin-top: 4px; }
.map .ground { fill: #f4f6ef; }
.map .mgrid line { stroke: #e1e5da; stroke-width: 1; }
.map .scale line { stroke: #333; stroke-width: 2; }
.map text { font-size: 11px; fill: #4a5260; }
.map .north { font-weight: 600; }
.map .r100 { fill: rgba(47, 111, 208, .06); stroke: var(--blue); stroke-width: 1.5;
  stroke-dasharray: 5 4; }
.map .r300 { fill: none; stroke: #c0392b; stroke-width: 1.5; stroke-dasharray: 7 5; }
.map .nodes rect { fill: #7b8794; }
.map .toc { stroke: #7d3c98; stroke-width: 1; stroke-dasharray: 2 3; }
.map .centre path { stroke: #7d3c98; stroke-width: 2.5; }
.map .results circle { fill: #fff; stroke: #e67e22; stroke-width: 2; }
.map .chosen { fill: rgba(230, 126, 34, .25); stroke: #e67e22; stroke-width: 3; }
.map .toplaced { stroke: #1e9e55; stroke-width: 1.5; stroke-dasharray: 4 3; }
.map .placed { fill: #1e9e55; stroke: #fff; stroke-width: 1.5; }
.map .death path { stroke: #c0392b; stroke-width: 3; stroke-linecap: round; }
.map text.off { font-weight: 600; }
.map text.chosen-t { fill: #b85c0b; }
.map text.placed-t { fill: #16703d; }
details summary { cursor: pointer; color: var(--blue); margin: 4px 0 8px; }
table.events td.cat { color: var(--muted); }
table.events td.cat-flow { color: var(--accent); font-weight: 600; }
@media (max-width: 1100px) { .viewer { grid-template-columns: 1fr; } }
)CSS";

const char* const kReportScript = R"JS(
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
    list.replaceChildren(...items);
    text('v-calls-count', '(' + f.n + (f.n > f.c.length ? ', the first ' + f.c.length + ' listed' : '') + ')');
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
)JS";

}  // namespace sim
