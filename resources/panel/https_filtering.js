// The "HTTPS filtering" section of the control panel: the switch, the chosen
// sites, the certificate authority and the browser stores that trust it.
'use strict';

let httpsState = null;
let shownSites = '';
let shownSuggestions = '';
let shownStores = '';
let httpsBusy = false;

const AUTHORITY_TEXT = {
  ready: 'Ready. Its key stays in the configuration folder, readable by you alone, and never leaves it.',
  absent: 'None yet. Switching HTTPS filtering on makes one.',
  damaged: 'Damaged, so nothing is inspected. Lumbra never replaces it on its own: mend the files or remove the authority.',
};

function siteItem(site) {
  const item = document.createElement('li');
  const name = document.createElement('span');
  name.className = 'site-name';
  name.textContent = site;
  const remove = document.createElement('button');
  remove.type = 'button';
  remove.id = `https-site-remove-${site}`;
  remove.textContent = 'Remove';
  remove.setAttribute('aria-label', `Remove ${site}`);
  remove.addEventListener('click', () => changeSites((sites) => sites.filter((other) => other !== site)));
  item.append(name, remove);
  return item;
}

function renderSites(sites) {
  const key = JSON.stringify(sites);
  if (key === shownSites) return;
  shownSites = key;
  // The keyboard focus stays on a Remove button: the same site's, else the one
  // now in the removed one's place, else the entry field.
  const focused = document.activeElement;
  const list = $('https-sites');
  const position = [...list.querySelectorAll('button')].indexOf(focused);
  list.replaceChildren(...sites.map(siteItem));
  $('https-sites-empty').hidden = sites.length > 0;
  if (position < 0) return;
  const buttons = list.querySelectorAll('button');
  const again = $(focused.id) ?? buttons[Math.min(position, buttons.length - 1)];
  (again ?? $('https-site')).focus();
}

function renderSuggestions(suggestions, sites) {
  const open = suggestions.filter((site) => !sites.includes(site));
  const key = JSON.stringify(open);
  if (key === shownSuggestions) return;
  shownSuggestions = key;
  $('https-suggestions').replaceChildren(...open.map((site) => {
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = site;
    button.setAttribute('aria-label', `Add ${site}`);
    button.addEventListener('click', () => changeSites((sites) => [...sites, site]));
    return button;
  }));
  $('https-suggestions-row').hidden = open.length === 0;
}

function storeItem(store) {
  const item = document.createElement('li');
  item.textContent = `${store.name}: `;
  const verdict = document.createElement('span');
  verdict.className = store.holds ? 'store-holds' : '';
  verdict.textContent = store.holds ? 'trusts Lumbra\'s certificate' : 'does not hold it';
  item.append(verdict);
  return item;
}

function renderStores(https) {
  const key = JSON.stringify([https.stores, https.certutil]);
  if (key === shownStores) return;
  shownStores = key;
  const stores = $('https-stores');
  if (https.stores === null) {
    const item = document.createElement('li');
    item.textContent = 'Checking...';
    stores.replaceChildren(item);
  } else {
    stores.replaceChildren(...https.stores.map(storeItem));
  }
  $('https-certutil-missing').hidden = https.certutil !== false;
}

function renderAuthority(authority) {
  const text = $('https-authority');
  const reason = authority.reason && authority.state !== 'ready' ? ` (${authority.reason})` : '';
  text.textContent = AUTHORITY_TEXT[authority.state] + reason;
  text.classList.toggle('https-damaged', authority.state === 'damaged');
  $('https-fingerprint').textContent = authority.fingerprint;
  $('https-fingerprint-row').hidden = !authority.fingerprint;
  for (const path of document.querySelectorAll('.https-path')) {
    path.textContent = authority.certificatePath || 'ca/lumbra-ca.pem';
  }
}

function renderButtons(https) {
  const ready = https.authority.state === 'ready';
  const anyHolds = (https.stores ?? []).some((store) => store.holds);
  $('https-download').disabled = httpsBusy || !ready;
  $('https-install').disabled = httpsBusy || !ready || https.certutil === false;
  $('https-uninstall').disabled = httpsBusy || !anyHolds;
  $('https-remove-authority').disabled = httpsBusy || https.authority.state === 'absent';
}

function renderHttps(https) {
  httpsState = https;
  // While a change is under way the box keeps what the user just made it.
  if (!httpsBusy) $('https-enabled').checked = https.enabled;
  renderSites(https.sites);
  renderSuggestions(https.suggestions, https.sites);
  renderAuthority(https.authority);
  renderStores(https);
  renderButtons(https);
}

// Runs a change, with the section's buttons off meanwhile; a failure's message is shown.
async function changeHttps(path, body, busyText) {
  httpsBusy = true;
  $('https-busy').textContent = busyText ?? '';
  if (httpsState) renderButtons(httpsState);
  let answer;
  try {
    answer = await postJson(path, body);
  } finally {
    httpsBusy = false;
    $('https-busy').textContent = '';
  }
  await refresh();
  if (!answer.ok) await showMessage('Lumbra', answer.message || 'HTTPS filtering could not be changed.');
  return answer.ok;
}

// Site changes run one after the other, each on the list the one before left,
// so that quick presses never undo each other.
let siteChanges = Promise.resolve(true);

function changeSites(edit) {
  siteChanges = siteChanges.then(() =>
    changeHttps('/api/https/sites', { sites: edit(httpsState?.sites ?? []) }));
  return siteChanges;
}

async function addSite(event) {
  event.preventDefault();
  const field = $('https-site');
  const site = field.value.trim();
  if (!site) return;
  if (await changeSites((sites) => [...sites, site])) field.value = '';
  // Back to the field after the button, but never away from where the user went since.
  if (document.activeElement === $('https-site-add-button')) field.focus();
}

function downloadCertificate() {
  const link = document.createElement('a');
  link.href = '/api/https/certificate';
  link.download = 'lumbra-ca.pem';
  document.body.append(link);
  link.click();
  link.remove();
}

async function installCertificate() {
  const answer = await askQuestion('Add to my browsers',
    'Your browsers will trust every certificate that Lumbra\'s authority signs, for any site. '
    + 'Lumbra signs only for the sites you chose, and its key never leaves this machine.\n\n'
    + `Fingerprint: ${httpsState.authority.fingerprint}\n\nAdd the certificate now?`);
  if (answer !== 'yes') return;
  await changeHttps('/api/https/install', {}, 'Adding the certificate to the browser stores...');
  $('https-install').focus();
}

async function removeAuthority() {
  const answer = await askQuestion('Remove authority',
    'HTTPS filtering is switched off, the certificate is taken out of your browser stores, '
    + 'and the authority\'s files are deleted. Switching HTTPS filtering on again makes a new '
    + 'authority, which the browsers must be given again.\n\nRemove the authority?');
  if (answer !== 'yes') return;
  await changeHttps('/api/https/remove-authority', {}, 'Removing the authority...');
  $('https-enabled').focus();
}

function setUpHttpsFiltering() {
  $('https-enabled').addEventListener('change', (event) =>
    changeHttps('/api/https/enable', { enabled: event.target.checked },
      event.target.checked ? 'Switching on...' : ''));
  $('https-site-add').addEventListener('submit', addSite);
  $('https-download').addEventListener('click', downloadCertificate);
  $('https-install').addEventListener('click', installCertificate);
  $('https-uninstall').addEventListener('click', async () => {
    await changeHttps('/api/https/uninstall', {}, 'Removing the certificate from the browser stores...');
    // The button is off once no store holds the certificate.
    $('https-install').focus();
  });
  $('https-remove-authority').addEventListener('click', removeAuthority);
  document.addEventListener('lumbra-state', (event) => renderHttps(event.detail.httpsFiltering));
}

setUpHttpsFiltering();
