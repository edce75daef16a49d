// Lumbra's control panel: the options window, the tray icon and its gradient menu, the
// Advanced filters drop-down, message boxes and the Instant filtering dialog, over the
// program's local HTTP API.
'use strict';

const POLL_MS = 1000;
const COMMAND = {
  showOptions: 'show-options',
  exit: 'exit',
  productUpdate: 'product-update',
  saveRecord: 'save-record',
  instantFiltering: 'instant-filtering',
};
const SIDE_BAR_WIDTH = 21;
const GRADIENT_TOP = [255, 255, 255];
const GRADIENT_BOTTOM = [128, 128, 255];
const GRADIENT_BANDS = 128;
const SIDE_BAR_TITLE = 'Lumbra';
const BITMAP_GREY = [192, 192, 192];
const BITMAP_DARK = [128, 128, 128];
const MENU_IMAGES = [
  'icon-recorder-start.png',
  'icon-recorder-pause.png',
  'icon-recorder-stop.png',
  'icon-save-record.png',
];

const $ = (id) => document.getElementById(id);
const token = document.querySelector('meta[name="lumbra-token"]')?.content ?? '';

// ---------------------------------------------------------------------------------------------
// Talking to the program

async function post(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-Lumbra-Token': token },
    body: JSON.stringify(body ?? {}),
    cache: 'no-store',
  });
  return response;
}

async function postJson(path, body) {
  const response = await post(path, body);
  let json = null;
  try {
    json = await response.json();
  } catch {
    json = { ok: false, message: `The program answered ${response.status}.` };
  }
  return json;
}

async function postThenRefresh(path, body) {
  const answer = await postJson(path, body);
  await refresh();
  return answer;
}

const sendCommand = (command) => postThenRefresh('/api/command', { command });

// ---------------------------------------------------------------------------------------------
// State and polling

let state = null;
let ended = false;
let optionsVisible = false;
let optionsFilled = false;
let pollTimer = 0;
let polling = null;

async function fetchState() {
  const response = await fetch('/api/state', { cache: 'no-store' });
  if (!response.ok) throw new Error(`state answered ${response.status}`);
  return response.json();
}

function refresh() {
  if (ended) return Promise.resolve();
  if (polling) return polling.then(() => pollOnce());
  return pollOnce();
}

function pollOnce() {
  const changes = instantFilterChanges;
  polling = fetchState()
    .then((next) => {
      state = next;
      stateInstantFilterChanges = changes;
      $('connection-lost').hidden = true;
      render();
    })
    .catch(() => {
      if (!ended) $('connection-lost').hidden = false;
    })
    .finally(() => {
      polling = null;
    });
  return polling;
}

function startPolling() {
  pollTimer = setInterval(() => {
    if (!polling) pollOnce();
  }, POLL_MS);
}

function render() {
  if (!state || ended) return;
  renderTray();
  renderOptions();
  renderInstantFilter();
  showNextDialog();
  // Other parts of the page (the block lists) draw themselves from the same state.
  document.dispatchEvent(new CustomEvent('lumbra-state', { detail: state }));
}

function renderTray() {
  const on = state.tray.icon !== 'off';
  const image = $('tray-image');
  const source = on ? '/panel/icon-on.png' : '/panel/icon-off.png';
  if (image.getAttribute('src') !== source) image.setAttribute('src', source);
  image.alt = on ? 'Lumbra: filtering on' : 'Lumbra: filtering off';
  $('tray-tip').textContent = state.tray.tip;
}

function renderOptions() {
  if (!optionsFilled && state.mayShow && !location.hash.includes('hidden')) {
    optionsVisible = true;
  }
  if (!optionsFilled) {
    fillOptions();
    if (location.hash) history.replaceState(null, '', location.pathname);
  }
  $('options').hidden = !optionsVisible;
  $('static-port').textContent = state.options.port;
}

function fillOptions() {
  const options = state.options;
  $('proxy-port').value = options.port;
  $('corporate-enabled').checked = options.corporateEnabled;
  $('corporate-url').value = options.corporateUrl;
  $('corporate-port').value = options.corporatePort;
  $('allow-lan').checked = options.allowLocalNetwork;
  $('autorun').checked = options.autorun;
  updateCorporateEdits();
  optionsFilled = true;
}

function updateCorporateEdits() {
  const enabled = $('corporate-enabled').checked;
  $('corporate-url').disabled = !enabled;
  $('corporate-port').disabled = !enabled;
}

async function showOptions() {
  await refresh();
  fillOptions();
  optionsVisible = true;
  render();
  $('proxy-port').focus();
}

function showEnded() {
  ended = true;
  clearInterval(pollTimer);
  trayMenu.close(false);
  filtersMenu.close(false);
  for (const dialog of document.querySelectorAll('dialog[open]')) dialog.close();
  $('panel').hidden = true;
  $('ended').hidden = false;
}

// ---------------------------------------------------------------------------------------------
// Colours

const colourProbe = document.createElement('canvas').getContext('2d');

function cssColour(name) {
  const text = getComputedStyle(document.documentElement).getPropertyValue(name).trim();
  colourProbe.fillStyle = '#000000';
  colourProbe.fillStyle = text || '#000000';
  const hex = colourProbe.fillStyle;
  if (!hex.startsWith('#')) return [0, 0, 0];
  return [1, 3, 5].map((at) => parseInt(hex.slice(at, at + 2), 16));
}

const sameColour = (data, at, colour) =>
  data[at] === colour[0] && data[at + 1] === colour[1] && data[at + 2] === colour[2];

function rgb(colour) {
  return `rgb(${colour[0]}, ${colour[1]}, ${colour[2]})`;
}

// A canvas sized for the screen's pixel ratio, drawn in CSS pixels.
function prepareCanvas(canvas, width, height) {
  const ratio = Math.max(1, Math.round(window.devicePixelRatio || 1));
  canvas.width = width * ratio;
  canvas.height = height * ratio;
  canvas.style.width = `${width}px`;
  canvas.style.height = `${height}px`;
  const context = canvas.getContext('2d');
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  context.imageSmoothingEnabled = false;
  return context;
}

// The 7x4 downward arrow of drop-down buttons: rows of 7, 5, 3 and 1 pixels.
function drawDownArrow(canvas) {
  const context = prepareCanvas(canvas, 7, 4);
  context.fillStyle = getComputedStyle(canvas).color;
  for (let row = 0; row < 4; row += 1) context.fillRect(row, row, 7 - 2 * row, 1);
}

// ---------------------------------------------------------------------------------------------
// Menu bitmaps, recoloured to the row they stand on

const bitmapImages = new Map();
const recolouredBitmaps = new Map();

function loadBitmap(name) {
  if (!bitmapImages.has(name)) {
    const image = new Image();
    image.src = `/panel/${name}`;
    bitmapImages.set(name, image.decode().then(() => image));
  }
  return bitmapImages.get(name);
}

// Light grey becomes the row's background, black the button text, dark grey the 3-D shadow
// and white the 3-D highlight, so the pictures follow the menu's colours.
function recolour(image, background) {
  const canvas = document.createElement('canvas');
  canvas.width = image.naturalWidth;
  canvas.height = image.naturalHeight;
  const context = canvas.getContext('2d');
  context.drawImage(image, 0, 0);
  const pixels = context.getImageData(0, 0, canvas.width, canvas.height);
  const map = [
    [BITMAP_GREY, background],
    [[0, 0, 0], cssColour('--text')],
    [BITMAP_DARK, cssColour('--shadow')],
    [[255, 255, 255], cssColour('--highlight')],
  ];
  const data = pixels.data;
  for (let at = 0; at < data.length; at += 4) {
    const match = map.find(([from]) => sameColour(data, at, from));
    if (match) [data[at], data[at + 1], data[at + 2]] = match[1];
  }
  context.putImageData(pixels, 0, 0);
  return canvas;
}

async function drawRowBitmap(canvas, name, hot) {
  const size = canvas.clientHeight || 22;
  const context = prepareCanvas(canvas, size, size);
  const background = cssColour(hot ? '--menu-hot' : '--menu');
  context.fillStyle = rgb(background);
  context.fillRect(0, 0, size, size);
  if (!name) return;
  const key = `${name}:${background.join(',')}`;
  if (!recolouredBitmaps.has(key)) {
    const image = await loadBitmap(name);
    recolouredBitmaps.set(key, recolour(image, background));
  }
  const bitmap = recolouredBitmaps.get(key);
  const left = Math.floor((size - bitmap.width) / 2);
  const top = Math.floor((size - bitmap.height) / 2);
  context.drawImage(bitmap, left, top);
}

// ---------------------------------------------------------------------------------------------
// Mnemonics: the character right after a single "&"

function mnemonicOf(text) {
  for (let at = 0; at < text.length - 1; at += 1) {
    if (text[at] !== '&') continue;
    if (text[at + 1] === '&') {
      at += 1;
      continue;
    }
    return { index: at, key: text[at + 1].toLowerCase() };
  }
  return null;
}

// The item text as nodes: "&&" stands for "&", the mnemonic letter is underlined.
function labelNodes(text) {
  const mnemonic = mnemonicOf(text);
  const plain = (part) => document.createTextNode(part.replaceAll('&&', '&'));
  if (!mnemonic) return [plain(text)];
  const underlined = document.createElement('u');
  underlined.textContent = text[mnemonic.index + 1];
  return [
    plain(text.slice(0, mnemonic.index)),
    underlined,
    plain(text.slice(mnemonic.index + 2)),
  ];
}

const plainText = (text) => text.replace(/&(&?)/g, '$1');

// ---------------------------------------------------------------------------------------------
// Placement: at the point, flipped to the left and/or above when it would cross the window's
// right or bottom edge and the flipped place fits.

function placeAt(x, y, width, height, areaWidth, areaHeight) {
  const fitsRight = x + width <= areaWidth;
  const fitsBelow = y + height <= areaHeight;
  if (fitsRight && fitsBelow) return { left: x, top: y };
  const fitsLeft = x - width >= 0;
  const fitsAbove = y - height >= 0;
  if (fitsLeft && fitsBelow) return { left: x - width, top: y };
  if (fitsRight && fitsAbove) return { left: x, top: y - height };
  if (fitsLeft && fitsAbove) return { left: x - width, top: y - height };
  return { left: x, top: y };
}

// ---------------------------------------------------------------------------------------------
// The menus: one keyboard and mouse model, two looks

class PopupMenu {
  constructor(element, list) {
    this.element = element;
    this.list = list;
    this.items = [];
    this.rows = [];
    this.hot = -1;
    this.opener = null;
    this.onChoose = () => {};
    element.addEventListener('keydown', (event) => this.onKey(event));
    list.addEventListener('pointermove', (event) => this.onPointer(event));
    list.addEventListener('click', (event) => this.onClick(event));
    element.addEventListener('contextmenu', (event) => event.preventDefault());
  }

  get isOpen() {
    return !this.element.hidden;
  }

  choosable(index) {
    const item = this.items[index];
    return item && !item.separator && !item.disabled;
  }

  open(items, x, y, opener, keyboardOpened) {
    this.close(false);
    this.items = items;
    this.opener = opener;
    this.rows = items.map((item, index) => this.buildRow(item, index));
    this.list.replaceChildren(...this.rows);
    this.hot = -1;
    this.element.style.visibility = 'hidden';
    this.element.hidden = false;
    this.layout();
    const size = this.element.getBoundingClientRect();
    const place = this.place(x, y, size.width, size.height);
    this.element.style.left = `${Math.round(place.left)}px`;
    this.element.style.top = `${Math.round(place.top)}px`;
    this.element.style.visibility = '';
    opener?.setAttribute('aria-expanded', 'true');
    this.element.focus();
    if (keyboardOpened) this.moveHot(1);
    this.paint();
  }

  place(x, y, width, height) {
    return placeAt(x, y, width, height, window.innerWidth, window.innerHeight);
  }

  layout() {}

  paint() {}

  close(returnFocus) {
    if (!this.isOpen) return;
    this.element.hidden = true;
    this.element.removeAttribute('aria-activedescendant');
    this.opener?.setAttribute('aria-expanded', 'false');
    if (returnFocus) this.opener?.focus();
    this.opener = null;
  }

  setHot(index) {
    if (index === this.hot) return;
    const previous = this.hot;
    this.hot = index;
    for (const changed of [previous, index]) {
      if (changed >= 0) this.paintRow(changed);
    }
    if (index >= 0) {
      this.element.setAttribute('aria-activedescendant', this.rows[index].id);
      this.rows[index].scrollIntoView({ block: 'nearest' });
    } else {
      this.element.removeAttribute('aria-activedescendant');
    }
  }

  paintRow(index) {
    this.rows[index].classList.toggle('hot', index === this.hot);
  }

  moveHot(step) {
    const count = this.items.length;
    let index = this.hot;
    for (let tries = 0; tries < count; tries += 1) {
      index = index < 0 ? (step > 0 ? 0 : count - 1) : (index + step + count) % count;
      if (this.choosable(index)) {
        this.setHot(index);
        return;
      }
    }
  }

  choose(index) {
    if (!this.choosable(index)) return;
    const item = this.items[index];
    this.close(true);
    this.onChoose(item);
  }

  rowIndex(event) {
    const row = event.target.closest('li');
    return row ? this.rows.indexOf(row) : -1;
  }

  onPointer(event) {
    const index = this.rowIndex(event);
    if (this.choosable(index)) this.setHot(index);
  }

  onClick(event) {
    if (event.button !== 0) return;
    this.choose(this.rowIndex(event));
  }

  onKey(event) {
    const handled = this.handleKey(event);
    if (handled) {
      event.preventDefault();
      event.stopPropagation();
    }
  }

  handleKey(event) {
    switch (event.key) {
      case 'Escape':
      case 'Alt':
        this.close(true);
        return true;
      case 'Tab':
        this.close(true);
        return true;
      case 'Enter':
        if (this.hot >= 0) this.choose(this.hot);
        return true;
      case 'ArrowDown':
        this.moveHot(1);
        return true;
      case 'ArrowUp':
        this.moveHot(-1);
        return true;
      case 'Home':
        this.hot = -1;
        this.moveHot(1);
        return true;
      case 'End':
        this.hot = -1;
        this.moveHot(-1);
        return true;
      default:
        if (event.ctrlKey || event.metaKey || event.altKey || event.key.length !== 1) return false;
        this.chooseByMnemonic(event.key.toLowerCase());
        return true;
    }
  }

  // One matching row is chosen at once; several matches move the highlight to the next one.
  chooseByMnemonic(key) {
    const matches = [];
    this.items.forEach((item, index) => {
      if (this.choosable(index) && mnemonicOf(item.text ?? '')?.key === key) matches.push(index);
    });
    if (matches.length === 0) return;
    if (matches.length === 1) {
      this.setHot(matches[0]);
      this.choose(matches[0]);
      return;
    }
    this.setHot(matches.find((index) => index > this.hot) ?? matches[0]);
  }
}

// The tray menu: side bar with a colour ramp and the rotated title, rows with bitmaps.
class GradientMenu extends PopupMenu {
  buildRow(item, index) {
    const row = document.createElement('li');
    row.id = `tray-item-${index}`;
    if (item.separator) {
      row.className = 'separator';
      row.setAttribute('role', 'separator');
      return row;
    }
    row.setAttribute('role', 'menuitem');
    row.dataset.command = item.command;
    if (item.disabled) row.setAttribute('aria-disabled', 'true');
    const mnemonic = mnemonicOf(item.text);
    if (mnemonic) row.setAttribute('aria-keyshortcuts', mnemonic.key.toUpperCase());
    const square = document.createElement('canvas');
    square.setAttribute('aria-hidden', 'true');
    const label = document.createElement('span');
    label.className = 'label';
    label.append(...labelNodes(item.text));
    row.setAttribute('aria-label', plainText(item.text));
    row.append(square, label);
    return row;
  }

  paint() {
    this.paintSideBar();
    this.rows.forEach((row, index) => this.paintRow(index));
  }

  paintRow(index) {
    super.paintRow(index);
    const square = this.rows[index].querySelector('canvas');
    if (square) drawRowBitmap(square, this.items[index].image, index === this.hot);
  }

  // Bands of height / 128 pixels (at least one), each colour interpolated from the top colour
  // to the bottom one; the title reads upwards from the bottom, 2 pixels from the left edge.
  paintSideBar() {
    const canvas = this.element.querySelector('.side-bar');
    const height = Math.round(this.element.clientHeight);
    const context = prepareCanvas(canvas, SIDE_BAR_WIDTH, height);
    const band = Math.max(1, Math.floor(height / GRADIENT_BANDS));
    for (let index = 0; index < GRADIENT_BANDS; index += 1) {
      const top = index * band;
      if (top >= height) break;
      const share = index / (GRADIENT_BANDS - 1);
      const colour = GRADIENT_TOP.map((from, at) =>
        Math.round(from + (GRADIENT_BOTTOM[at] - from) * share));
      context.fillStyle = rgb(colour);
      const last = index === GRADIENT_BANDS - 1;
      context.fillRect(0, top, SIDE_BAR_WIDTH, last ? height - top : band);
    }
    context.save();
    context.translate(2, height - 4);
    context.rotate(-Math.PI / 2);
    context.font = '600 16px Arial, "Liberation Sans", sans-serif';
    context.textBaseline = 'top';
    context.fillStyle = '#ffffff';
    context.fillText(SIDE_BAR_TITLE, 0, 0);
    context.restore();
  }
}

// The Advanced filters drop-down: a plain list of rules with check marks.
class FiltersMenu extends PopupMenu {
  buildRow(item, index) {
    const row = document.createElement('li');
    row.id = `filter-item-${index}`;
    row.setAttribute('role', 'menuitemcheckbox');
    row.setAttribute('aria-checked', String(item.checked));
    row.dataset.rule = String(item.index);
    const check = document.createElement('span');
    check.className = 'check';
    check.setAttribute('aria-hidden', 'true');
    check.textContent = item.checked ? '\u2713' : '';
    const label = document.createElement('span');
    label.textContent = item.text;
    row.append(check, label);
    return row;
  }

  // Below the button's bottom-left corner, or above the button when it does not fit below.
  place(x, y, width, height) {
    const button = this.opener.getBoundingClientRect();
    const top = y + height <= window.innerHeight ? y : Math.max(0, button.top - height);
    const left = Math.max(0, Math.min(x, window.innerWidth - width));
    return { left, top };
  }
}

const trayMenu = new GradientMenu($('tray-menu'), $('tray-menu').querySelector('.strip'));
const filtersMenu = new FiltersMenu($('filters-menu'), $('filters-menu'));

function closeMenusOnOutsidePointer(event) {
  for (const menu of [trayMenu, filtersMenu]) {
    if (menu.isOpen && !menu.element.contains(event.target)) {
      const onOpener = menu.opener?.contains(event.target);
      menu.close(false);
      if (onOpener) event.stopPropagation();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The tray icon stand-in

async function openTrayMenu(x, y, keyboardOpened) {
  await refresh();
  if (ended || !state) return;
  const items = state.menu.map((item) => ({ ...item }));
  trayMenu.open(items, x, y, $('tray-icon'), keyboardOpened);
}

function runTrayCommand(item) {
  switch (item.command) {
    case COMMAND.showOptions:
      return postJson('/api/command', { command: COMMAND.showOptions }).then(showOptions);
    case COMMAND.exit:
      return exitProgram();
    case COMMAND.saveRecord:
      return saveRecord();
    case COMMAND.instantFiltering:
      return openInstantFilter();
    default:
      return sendCommand(item.command);
  }
}

function setUpTray() {
  const icon = $('tray-icon');
  icon.addEventListener('contextmenu', (event) => {
    event.preventDefault();
    const keyboard = event.clientX === 0 && event.clientY === 0;
    const box = icon.getBoundingClientRect();
    openTrayMenu(keyboard ? box.left : event.clientX, keyboard ? box.top : event.clientY, keyboard);
  });
  icon.addEventListener('dblclick', () => {
    postJson('/api/command', { command: COMMAND.showOptions }).then(showOptions);
  });
  icon.addEventListener('mousemove', () => {
    if (state) icon.title = state.tray.tip;
  });
  icon.addEventListener('keydown', (event) => {
    if (!['Enter', ' ', 'ArrowUp', 'ArrowDown'].includes(event.key)) return;
    event.preventDefault();
    const box = icon.getBoundingClientRect();
    openTrayMenu(box.left, box.top, true);
  });
  trayMenu.onChoose = runTrayCommand;
}

// ---------------------------------------------------------------------------------------------
// The options window

function setUpOptions() {
  $('corporate-enabled').addEventListener('change', updateCorporateEdits);
  $('autorun').addEventListener('change', changeAutorun);
  $('product-update').addEventListener('click', () => sendCommand(COMMAND.productUpdate));
  $('exit').addEventListener('click', exitProgram);
  $('options-form').addEventListener('submit', (event) => {
    event.preventDefault();
    hideOptions();
  });
  setUpFiltersButton();
}

async function changeAutorun() {
  const answer = await postJson('/api/autorun', { enabled: $('autorun').checked });
  if (!answer.ok && answer.message) await showMessage('Lumbra', answer.message);
}

async function hideOptions() {
  const answer = await postJson('/api/hide', {
    port: $('proxy-port').value,
    corporateEnabled: $('corporate-enabled').checked,
    corporateUrl: $('corporate-url').value,
    corporatePort: $('corporate-port').value,
    allowLocalNetwork: $('allow-lan').checked,
  });
  if (!answer.ok) {
    await showMessage('Lumbra', answer.message ?? 'The options could not be applied.');
    return;
  }
  optionsVisible = false;
  const currentPort = location.port || '80';
  if (answer.port !== undefined && String(answer.port) !== currentPort) {
    const next = new URL(location.href);
    next.port = String(answer.port);
    next.hash = 'hidden';
    location.assign(next.href);
    return;
  }
  await refresh();
  fillOptions();
  render();
  $('tray-icon').focus();
}

async function exitProgram() {
  try {
    const answer = await postJson('/api/command', { command: COMMAND.exit });
    if (answer.ok) showEnded();
  } catch {
    // The program may close the connection as it ends; it has ended when it no longer answers.
    try {
      await fetchState();
    } catch {
      showEnded();
    }
  }
}

function setUpFiltersButton() {
  const button = $('advanced-filters');
  const rules = () => (state?.rules ?? []).map((rule) => ({ index: rule.index, text: rule.name, checked: rule.checked }));
  const open = async (keyboardOpened) => {
    await refresh();
    const items = rules();
    if (items.length === 0) return false;
    const box = button.getBoundingClientRect();
    filtersMenu.open(items, box.left, box.bottom, button, keyboardOpened);
    return true;
  };
  // With no named rule there is no menu: the button only shows pressed while the mouse is down.
  const release = () => button.classList.remove('pressed');
  button.addEventListener('pointerdown', (event) => {
    if (event.button !== 0) return;
    if (filtersMenu.isOpen) {
      filtersMenu.close(false);
      return;
    }
    if (rules().length === 0) {
      button.classList.add('pressed');
      return;
    }
    open(false);
  });
  button.addEventListener('pointerup', release);
  button.addEventListener('pointerleave', release);
  button.addEventListener('click', (event) => {
    if (event.detail === 0 && !filtersMenu.isOpen) open(true);
  });
  button.addEventListener('keydown', (event) => {
    if (event.key !== 'ArrowDown' || filtersMenu.isOpen) return;
    event.preventDefault();
    open(true);
  });
  filtersMenu.onChoose = (item) => postThenRefresh('/api/rule/toggle', { index: item.index });
}

// ---------------------------------------------------------------------------------------------
// Message boxes and Yes/No questions

const localMessages = [];
const answeredDialogs = new Set();
let shownDialog = null;

function showMessage(caption, text) {
  return new Promise((resolve) => {
    localMessages.push({ caption, text, kind: 'ok', resolve });
    showNextDialog();
  });
}

// A Yes/No question of the page itself; resolves 'yes' or 'no'.
function askQuestion(caption, text) {
  return new Promise((resolve) => {
    localMessages.push({ caption, text, kind: 'yesno', resolve });
    showNextDialog();
  });
}

function nextDialog() {
  if (localMessages.length > 0) return localMessages.shift();
  return (state?.dialogs ?? []).find((dialog) => !answeredDialogs.has(dialog.id)) ?? null;
}

function showNextDialog() {
  const box = $('message-box');
  if (box.open || ended) return;
  const dialog = nextDialog();
  if (!dialog) return;
  shownDialog = dialog;
  const yesNo = dialog.kind === 'yesno';
  $('message-caption').textContent = dialog.caption || 'Lumbra';
  $('message-text').textContent = dialog.text;
  $('message-ok').hidden = yesNo;
  $('message-yes').hidden = !yesNo;
  $('message-no').hidden = !yesNo;
  box.returnValue = '';
  box.setAttribute('role', yesNo ? 'alertdialog' : 'dialog');
  box.showModal();
  (yesNo ? $('message-yes') : $('message-ok')).focus();
}

// Escape or closing without a button answers "ok" to a message and "no" to a question.
function onMessageBoxClosed() {
  const dialog = shownDialog;
  shownDialog = null;
  if (!dialog || ended) return;
  const fallback = dialog.kind === 'yesno' ? 'no' : 'ok';
  const answer = $('message-box').returnValue || fallback;
  if (dialog.resolve) {
    dialog.resolve(answer);
  } else {
    answeredDialogs.add(dialog.id);
    postJson('/api/dialog', { id: dialog.id, answer }).finally(refresh);
  }
  setTimeout(showNextDialog, 0);
}

function setUpMessageBox() {
  const box = $('message-box');
  for (const [id, answer] of [['message-ok', 'ok'], ['message-yes', 'yes'], ['message-no', 'no']]) {
    $(id).addEventListener('click', () => box.close(answer));
  }
  box.addEventListener('close', onMessageBoxClosed);
}

// ---------------------------------------------------------------------------------------------
// Save record as...: the record arrives as a download named by the program

function downloadName(disposition) {
  const match = /filename="?([^";]+)"?/i.exec(disposition ?? '');
  const name = (match?.[1] ?? '').replace(/[^A-Za-z0-9._-]/g, '');
  return name || 'record.xml';
}

async function saveRecord() {
  const response = await post('/api/record/save', {});
  if (!response.ok) {
    const answer = await response.json().catch(() => ({}));
    await showMessage('Lumbra', answer.message ?? 'Nothing to write on disk.');
    await refresh();
    return;
  }
  const blob = await response.blob();
  const link = document.createElement('a');
  link.href = URL.createObjectURL(blob);
  link.download = downloadName(response.headers.get('Content-Disposition'));
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
  await refresh();
}

// ---------------------------------------------------------------------------------------------
// The Instant filtering dialog with its editable combo box

const combo = {
  input: $('instant-url'),
  list: $('instant-history'),
  urls: [],
  active: -1,
};

function fillHistory(urls) {
  combo.urls = urls;
  combo.active = -1;
  combo.list.replaceChildren(...urls.map((url, index) => {
    const option = document.createElement('li');
    option.id = `instant-option-${index}`;
    option.setAttribute('role', 'option');
    option.setAttribute('aria-selected', 'false');
    option.textContent = url;
    option.title = url;
    return option;
  }));
}

function setHistoryOpen(open) {
  const canOpen = open && combo.urls.length > 0;
  combo.list.hidden = !canOpen;
  combo.input.setAttribute('aria-expanded', String(canOpen));
  if (!canOpen) {
    combo.input.removeAttribute('aria-activedescendant');
    return;
  }
  const current = combo.urls.indexOf(combo.input.value);
  setActiveOption(current >= 0 ? current : 0);
}

function setActiveOption(index) {
  combo.active = index;
  [...combo.list.children].forEach((option, at) => option.setAttribute('aria-selected', String(at === index)));
  const option = combo.list.children[index];
  if (!option) return;
  combo.input.setAttribute('aria-activedescendant', option.id);
  option.scrollIntoView({ block: 'nearest' });
}

function pickOption(index) {
  if (index < 0 || index >= combo.urls.length) return;
  combo.input.value = combo.urls[index];
  setHistoryOpen(false);
  combo.input.focus();
}

function onComboKey(event) {
  const open = !combo.list.hidden;
  if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
    event.preventDefault();
    if (!open) {
      setHistoryOpen(true);
      return;
    }
    const step = event.key === 'ArrowDown' ? 1 : -1;
    setActiveOption(Math.min(combo.urls.length - 1, Math.max(0, combo.active + step)));
  } else if (event.key === 'Enter' && open) {
    event.preventDefault();
    pickOption(combo.active);
  } else if (event.key === 'Escape' && open) {
    event.preventDefault();
    event.stopPropagation();
    setHistoryOpen(false);
  }
}

// Whether this page shows the dialog: from showing it until the proxy has heard how it closed.
let instantFilterShown = false;
// Counts this page's messages that open or close the dialog, before and after each, so that a
// state asked for while one was on its way (and so perhaps older than it) leaves the dialog alone.
let instantFilterChanges = 0;
let stateInstantFilterChanges = 0;
// Set when the dialog is closed because the proxy says it was closed on another page.
let instantFilterClosedElsewhere = false;

function showInstantFilter(urls) {
  const history = (urls ?? []).filter((url) => url !== '');
  fillHistory(history);
  combo.input.value = history[0] ?? '';
  $('instant-allow').checked = true;
  setHistoryOpen(false);
  const dialog = $('instant-filter');
  dialog.returnValue = '';
  dialog.showModal();
  instantFilterShown = true;
  combo.input.focus();
  combo.input.select();
}

async function openInstantFilter() {
  instantFilterChanges += 1;
  try {
    const answer = await postJson('/api/instant-filter/open', {});
    if (answer.ok && !instantFilterShown) showInstantFilter(answer.urls);
  } finally {
    instantFilterChanges += 1;
  }
}

// The proxy keeps the dialog open until it hears OK or Cancel, so a page loaded again while it
// is open shows it again; otherwise Instant filtering could not be opened again until the
// proxy restarted.
function renderInstantFilter() {
  if (stateInstantFilterChanges !== instantFilterChanges) return;
  const dialog = $('instant-filter');
  const open = Boolean(state.instantFiltering?.open);
  if (open && !instantFilterShown) {
    showInstantFilter(state.instantFiltering.urls);
  } else if (!open && instantFilterShown && dialog.open) {
    instantFilterClosedElsewhere = true;
    dialog.close();
  }
}

async function onInstantFilterClosed() {
  const dialog = $('instant-filter');
  setHistoryOpen(false);
  if (instantFilterClosedElsewhere || ended) {
    instantFilterClosedElsewhere = false;
    instantFilterShown = false;
    return;
  }
  const body = dialog.returnValue === 'ok'
    ? { url: combo.input.value.slice(0, 1023), allow: $('instant-allow').checked }
    : { cancel: true };
  instantFilterChanges += 1;
  try {
    await postJson('/api/instant-filter/close', body);
  } finally {
    instantFilterShown = false;
    instantFilterChanges += 1;
  }
  await refresh();
}

function setUpInstantFilter() {
  const dialog = $('instant-filter');
  combo.input.addEventListener('keydown', onComboKey);
  combo.input.addEventListener('blur', () => setTimeout(() => {
    if (document.activeElement !== combo.input) setHistoryOpen(false);
  }, 150));
  $('instant-toggle').addEventListener('click', () => {
    setHistoryOpen(combo.list.hidden);
    combo.input.focus();
  });
  combo.list.addEventListener('mousedown', (event) => event.preventDefault());
  combo.list.addEventListener('click', (event) => {
    const option = event.target.closest('li');
    if (option) pickOption([...combo.list.children].indexOf(option));
  });
  $('instant-form').addEventListener('submit', (event) => {
    event.preventDefault();
    dialog.close('ok');
  });
  $('instant-cancel').addEventListener('click', () => dialog.close('cancel'));
  dialog.addEventListener('close', onInstantFilterClosed);
}

// ---------------------------------------------------------------------------------------------

function setUp() {
  setUpTray();
  setUpOptions();
  setUpMessageBox();
  setUpInstantFilter();
  for (const canvas of document.querySelectorAll('.menu-button-arrow canvas, .combo-toggle canvas')) {
    drawDownArrow(canvas);
  }
  for (const name of MENU_IMAGES) loadBitmap(name).catch(() => {});
  document.addEventListener('pointerdown', closeMenusOnOutsidePointer, true);
  window.addEventListener('blur', () => {
    trayMenu.close(false);
    filtersMenu.close(false);
  });
  window.addEventListener('resize', () => {
    trayMenu.close(false);
    filtersMenu.close(false);
  });
  refresh();
  startPolling();
}

setUp();
