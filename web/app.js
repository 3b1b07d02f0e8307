// The camera page: keys and buttons go to the server, frames and state come back as server-sent events.
'use strict';

const $ = (selector) => document.querySelector(selector);
const lcd = $('#lcd').getContext('2d');
let last = {};

function say(text) {
  $('#message').textContent = text;
}

// Answers the server's reason when it refuses (a sentence), or null when it did what was asked.
async function request(method, url, body, type) {
  const init = { method, body: body ?? '' };
  if (type) init.headers = { 'Content-Type': type };
  try {
    const response = await fetch(url, init);
    if (response.ok) return null;
    const answer = await response.json().catch(() => ({}));
    return answer.error || `The server refused this (HTTP ${response.status}).`;
  } catch (error) {
    return 'The server cannot be reached; is vupdate serve still running?';
  }
}

async function send(method, url, body, type) {
  const error = await request(method, url, body, type);
  say(error ?? '');
  return error === null;
}

const press = (key) => send('POST', `/api/key/${key}`);

// A frame is base64 of runs: a count less one, then red, green, blue.
function drawFrame(data) {
  const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
  const image = lcd.createImageData(360, 287);
  const pixels = image.data;
  let p = 0;
  for (let i = 0; i + 3 < bytes.length; i += 4) {
    for (let n = bytes[i] + 1; n > 0 && p < pixels.length; --n, p += 4) {
      pixels[p] = bytes[i + 1];
      pixels[p + 1] = bytes[i + 2];
      pixels[p + 2] = bytes[i + 3];
      pixels[p + 3] = 255;
    }
  }
  lcd.putImageData(image, 0, 0);
}

function setText(selector, text) {
  const element = $(selector);
  if (element.textContent !== String(text)) element.textContent = text;
}

function renderCard(card) {
  setText('#card-state', card.inserted ? '' : '(pulled out)');
  const key = JSON.stringify(card.files);
  if (key === last.files) return;
  last.files = key;
  const body = $('#card-files tbody');
  body.replaceChildren(...card.files.map((file) => {
    const row = document.createElement('tr');
    for (const text of [file.name, file.size, file.kind]) {
      const cell = document.createElement('td');
      cell.textContent = text;
      row.append(cell);
    }
    const remove = document.createElement('button');
    remove.textContent = 'remove';
    remove.className = 'remove';
    remove.onclick = () => send('DELETE', `/api/card/${encodeURIComponent(file.name)}`);
    const cell = document.createElement('td');
    cell.append(remove);
    row.append(cell);
    return row;
  }));
  refreshInspect();
}

function renderCamera(camera) {
  setText('#camera-profile', `(${camera.profile})`);
  const select = $('#profile-select');
  const options = JSON.stringify(camera.samples);
  if (options !== last.samples) {
    last.samples = options;
    select.replaceChildren(new Option('—', ''), ...camera.samples.map((name) => new Option(name, name)));
  }
  if (document.activeElement !== select) select.value = camera.samples.includes(camera.profile) ? camera.profile : '';
  const form = $('#camera-form');
  if (!form.contains(document.activeElement)) {
    form.region.value = camera.region ?? '';
    form.battery.value = camera.battery;
    form.serial.value = camera.serial === null ? '' : '0x' + camera.serial.toString(16).toUpperCase().padStart(8, '0');
  }
}

function render(state) {
  last.state = state;
  const power = state.on ? 'on' : `off${state.last_stop ? ' (' + state.last_stop + ')' : ''}`;
  const panel = state.panel < 0 ? 'none' : `${state.panel} ${state.panel_name}`;
  setText('#status', `power ${power} · panel ${panel} · error ${state.err_code} ${state.err_name}`);
  setText('#clock', `camera clock ${state.virtual_seconds.toFixed(1)} s`);
  $('#led').classList.toggle('lit', state.on && state.led > 0);
  $('#led').title = `LED ${state.led} (${state.led_name})`;
  ['#key-left', '#key-centre', '#key-right'].forEach((selector, i) => {
    setText(selector, state.on ? state.soft_keys[i] : '');
  });
  for (const button of document.querySelectorAll('.speed')) {
    button.classList.toggle('active', Number(button.dataset.factor) === state.speed);
  }
  renderCard(state.card);
  setText('#log', state.log);
  const flash = state.flash;
  setText('#flash-state', flash.state);
  setText('#flash-percent', `${flash.percent} %`);
  setText('#flash-erases', flash.erases);
  setText('#flash-blank-checks', flash.blank_checks);
  setText('#flash-words', flash.words);
  setText('#flash-violations', flash.write_enable_violations);
  renderCamera(state.camera);
  document.body.dataset.frame = state.frame;
}

let inspecting = false;
async function refreshInspect() {
  if (inspecting) return;
  inspecting = true;
  try {
    const response = await fetch('/api/inspect', { method: 'POST' });
    setText('#inspect', await response.text());
  } finally {
    inspecting = false;
  }
}

// The same rule as the server's: a name the card takes.
const cardName = /^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$/;

async function upload(files) {
  const problems = [];
  for (const file of files) {
    const largest = last.state?.camera.largest_card_file;
    let error = null;
    if (!cardName.test(file.name)) {
      error = `${file.name} cannot go on the card: the card takes names of 1 to 64 letters, digits, '.', '_' ` +
        `and '-' that start with a letter or digit (the camera reads QR40V110.BIN, UPDATE.CAM, UPDATE.CRS).`;
    } else if (largest !== undefined && file.size > largest) {
      error = `${file.name} is ${file.size} bytes; a file for the card is at most ${largest} bytes ` +
        '(a header, the whole 2 MiB flash and a trailer).';
    } else {
      const reason = await request('PUT', `/api/card/${encodeURIComponent(file.name)}`, file,
                                   'application/octet-stream');
      if (reason !== null) error = `${file.name} was not put on the card. ${reason}`;
    }
    if (error !== null) problems.push(error);
  }
  say(problems.join(' '));
}

function connect() {
  const events = new EventSource('/api/events');
  events.addEventListener('frame', (event) => {
    const space = event.data.indexOf(' ');
    drawFrame(event.data.slice(space + 1));
    document.body.dataset.shown = event.data.slice(0, space);
  });
  events.addEventListener('state', (event) => render(JSON.parse(event.data)));
  events.onerror = () => {
    setText('#status', 'connection lost, trying again…');
    // A refused stream (the server's cap on live views, a restart) is not retried by the browser itself.
    if (events.readyState === EventSource.CLOSED) setTimeout(connect, 3000);
  };
}

const keyButtons = { left: '#key-left', centre: '#key-centre', right: '#key-right', power: '#key-power', debug: '#key-debug' };
for (const [key, selector] of Object.entries(keyButtons)) $(selector).onclick = () => press(key);

document.addEventListener('keydown', (event) => {
  if (event.target.closest('input, select, textarea') || event.ctrlKey || event.metaKey || event.altKey) return;
  const key = { ArrowLeft: 'left', ArrowRight: 'right', Enter: 'centre', ' ': 'centre', p: 'power', P: 'power' }[event.key];
  if (!key) return;
  event.preventDefault();
  press(key);
});

for (const button of document.querySelectorAll('.speed')) {
  button.onclick = () => send('POST', `/api/speed?factor=${button.dataset.factor}`);
}
for (const fault of ['power-cut', 'pull-card', 'insert-card', 'low-battery']) {
  $(`#fault-${fault}`).onclick = () => send('POST', `/api/fault/${fault}`);
}

const drop = $('#drop-zone');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  upload(event.dataTransfer.files);
});
$('#card-upload').onchange = async (event) => {
  await upload(event.target.files);
  event.target.value = '';
};

$('#profile-select').onchange = (event) => {
  if (event.target.value) send('POST', `/api/profile/sample?name=${encodeURIComponent(event.target.value)}`);
};
$('#profile-upload').onchange = async (event) => {
  const file = event.target.files[0];
  const largest = last.state?.camera.largest_profile;
  if (file && largest !== undefined && file.size > largest) {
    say(`${file.name} is ${file.size} bytes; a camera profile is at most ${largest} bytes.`);
  } else if (file) {
    const reason = await request('PUT', `/api/profile?name=${encodeURIComponent(file.name)}`, file, 'text/plain');
    say(reason === null ? '' : `${file.name} was not taken as the camera's profile. ${reason}`);
  }
  event.target.value = '';
};
$('#camera-form').onsubmit = (event) => {
  event.preventDefault();
  // An empty field leaves that value as the profile has it.
  const fields = [...new FormData(event.target)].filter(([, value]) => value.trim() !== '');
  send('POST', '/api/camera', new URLSearchParams(fields));
};
$('#inspect-refresh').onclick = refreshInspect;

connect();
