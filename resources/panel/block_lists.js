// The "Block lists" section of the control panel: the lists with what loading
// them gave, adding, removing, switching and updating them, and what was blocked.
'use strict';

let shownLists = '';
let shownBlocked = '';

function formatUpdate(list) {
  if (list.fetching) return 'Updating...';
  if (list.updatedAt === null) return list.enabled ? 'Not fetched yet' : '';
  return new Date(list.updatedAt * 1000).toLocaleString();
}

function cell(text, className) {
  const td = document.createElement('td');
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

function listRow(list) {
  const row = document.createElement('tr');
  const use = document.createElement('input');
  use.type = 'checkbox';
  use.checked = list.enabled;
  use.id = `list-use-${list.index}`;
  use.setAttribute('aria-label', `Use ${list.name}`);
  use.addEventListener('change', () => changeList('/api/blocklists/enable',
    { index: list.index, enabled: use.checked }));
  const useCell = document.createElement('td');
  useCell.append(use);

  const nameCell = cell(list.name);
  const url = document.createElement('span');
  url.className = 'list-url';
  url.textContent = list.url;
  nameCell.append(url);

  const updateCell = cell(formatUpdate(list));
  if (list.error) {
    const error = document.createElement('span');
    error.className = 'list-error';
    error.textContent = list.error;
    updateCell.append(updateCell.textContent ? ' ' : '', error);
  }

  const remove = document.createElement('button');
  remove.type = 'button';
  remove.id = `list-remove-${list.index}`;
  remove.textContent = 'Remove';
  remove.setAttribute('aria-label', `Remove ${list.name}`);
  remove.addEventListener('click', () => changeList('/api/blocklists/remove', { index: list.index }));
  const removeCell = document.createElement('td');
  removeCell.append(remove);

  row.append(useCell, nameCell, cell(list.enabled ? String(list.domains) : '', 'number'),
    cell(list.enabled ? String(list.skipped) : '', 'number'), updateCell, removeCell);
  return row;
}

function renderLists(lists) {
  const key = JSON.stringify(lists);
  if (key === shownLists) return;
  shownLists = key;
  // Redrawn rows would take the keyboard focus with them: it goes back to the
  // same control of the same list, or to the next list's when that one is gone.
  const focused = document.activeElement?.id ?? '';
  const rows = $('lists-rows');
  rows.replaceChildren(...lists.map(listRow));
  $('lists-empty').hidden = lists.length > 0;
  if (focused.startsWith('list-use-') || focused.startsWith('list-remove-')) {
    const again = $(focused) ?? rows.querySelector(`[id^="${focused.replace(/\d+$/, '')}"]`);
    (again ?? $('list-name')).focus();
  }
}

function renderBlocked(blocked) {
  const key = JSON.stringify(blocked);
  if (key === shownBlocked) return;
  shownBlocked = key;
  $('blocked-by-lists').textContent = String(blocked.byLists);
  $('blocked-by-rules').textContent = String(blocked.byRules);
  $('blocked-hosts').replaceChildren(...blocked.topHosts.map((entry) => {
    const item = document.createElement('li');
    item.textContent = `${entry.host} (${entry.count})`;
    return item;
  }));
}

async function changeList(path, body) {
  const answer = await postJson(path, body);
  await refresh();
  if (!answer.ok) await showMessage('Lumbra', answer.message ?? 'The list could not be changed.');
  return answer.ok;
}

async function addList(event) {
  event.preventDefault();
  const name = $('list-name');
  const url = $('list-url');
  if (await changeList('/api/blocklists/add', { name: name.value, url: url.value })) {
    name.value = '';
    url.value = '';
    name.focus();
  }
}

function setUpBlockLists() {
  $('list-add').addEventListener('submit', addList);
  $('lists-update').addEventListener('click', () => changeList('/api/blocklists/update', {}));
  document.addEventListener('lumbra-state', (event) => {
    renderLists(event.detail.blockLists);
    renderBlocked(event.detail.blocked);
  });
}

setUpBlockLists();
