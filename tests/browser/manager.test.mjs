// The service manager in a real Chromium against vormel-host: sign in, add, embed, reset,
// delete, each answered by the right message, with a password that holds a blank.
// Usage: VORMEL_BUILD_BIN=<build>/bin node manager.test.mjs
import { spawn } from 'node:child_process';
import { copyFileSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const PASSWORD = 'open sesame';
const NAME_TYPED = 'browser page';  // the blank is dropped: the counter is "browserpage"
const NAME = 'browserpage';

const bin = process.env.VORMEL_BUILD_BIN;
if (!bin) throw new Error('VORMEL_BUILD_BIN is not set');
const buildDir = dirname(bin);
const here = dirname(fileURLToPath(import.meta.url));

let failures = 0;
function check(condition, what) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
  if (!condition) failures += 1;
}

function startHost(home) {
  const host = spawn(join(bin, 'vormel-host'), ['--listen', '127.0.0.1:0', '--home', home], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const firstLine = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('vormel-host printed no address')), 20000);
    host.once('exit', (code) => reject(new Error(`vormel-host exited with ${code}`)));
    createInterface({ input: host.stdout }).once('line', (line) => {
      clearTimeout(timer);
      resolve(line);
    });
  });
  return { host, firstLine };
}

async function messageOf(page) {
  const message = page.locator('font[color=red]').first();
  // textContent: the rendered text would fold the two blanks after "Error".
  return (await message.count()) ? (await message.textContent()).trim() : '';
}

// The value the row's image asks for, and whether that image actually decoded.
async function rowOf(page, name) {
  return page.evaluate((wanted) => {
    for (const row of document.querySelectorAll('tr')) {
      const cells = row.querySelectorAll('td');
      if (cells.length === 4 && cells[0].textContent === wanted) {
        const img = cells[1].querySelector('img');
        const src = img ? img.getAttribute('src') : '';
        return {
          value: src.replace(/^.*lit=/, ''),
          loaded: !!img && img.complete && img.naturalWidth > 0,
          description: cells[2].textContent,
          date: cells[3].textContent,
        };
      }
    }
    return null;
  }, name);
}

async function submitForm(page, type, name, desc) {
  await page.fill('input[name=name]', name);
  await page.fill('input[name=desc]', desc);
  await page.selectOption('select[name=type]', type);
  const [response] = await Promise.all([
    page.waitForNavigation({ waitUntil: 'load' }),
    page.click('input[type=submit]'),
  ]);
  check(response && response.status() === 200, `${type} answered with status 200`);
  check(
    (await page.getAttribute('input[name=pass]', 'value')) === PASSWORD,
    `${type}: the hidden field carries the whole password`,
  );
}

async function main() {
  const home = mkdtempSync(join(tmpdir(), 'vormel-browser-'));
  const profile = mkdtempSync(join(tmpdir(), 'vormel-chromium-'));
  writeFileSync(join(home, 'vormel.ini'), `[global]\r\npass=${PASSWORD}\r\ncommit=1\r\n`);
  const { host, firstLine } = startHost(home);
  let context;
  try {
    const line = await firstLine;
    const match = /^listening on (http:\/\/127\.0\.0\.1:\d+\/)$/.exec(line);
    if (!match) throw new Error(`unexpected first line: ${line}`);
    const base = match[1];

    context = await chromium.launchPersistentContext(profile, {
      executablePath: '/usr/bin/chromium',
      headless: true,
      args: [
        '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync',
      ],
      viewport: { width: 900, height: 1200 },
    });
    const page = context.pages()[0] ?? (await context.newPage());

    // A wrong password gets the failure page only.
    await page.goto(base);
    await page.fill('input[name=pass]', 'open');
    await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
    check((await page.content()).includes('Vormel Authorization Failed'), 'wrong password refused');

    // Sign in through the host's own page.
    await page.goto(base);
    await page.fill('input[name=pass]', PASSWORD);
    await Promise.all([page.waitForNavigation({ waitUntil: 'load' }), page.click('button[type=submit]')]);
    check((await page.title()).includes('Service Manager'), 'signed in to the service manager');

    await submitForm(page, 'add', NAME_TYPED, '  From Chromium');
    check((await messageOf(page)) === 'Counter Added!', 'add: "Counter Added!"');
    let row = await rowOf(page, NAME);
    check(row !== null && row.value === '00000000', 'added counter listed with value 0');
    check(row !== null && row.loaded, 'its value image loaded (naturalWidth > 0)');
    check(row !== null && row.description === 'From Chromium', 'its description shown');
    check(row !== null && /^\d{4}\/\d{2}\/\d{2}$/.test(row.date), 'its creation date shown');

    await submitForm(page, 'add', NAME, 'again');
    check((await messageOf(page)) === 'Error  Counter Name Exist!', 'add twice: "Counter Name Exist!"');

    // Two embeds of the counter on another page advance it by two.
    const embed = await context.newPage();
    for (let i = 0; i < 2; ++i) {
      // A navigation of its own each time: an image element could be served from the cache.
      const response = await embed.goto(`${base}cgi-bin/Vormel.dll?counter?p=df=${NAME}`);
      const type = response ? response.headers()['content-type'] : '';
      const width = await embed.evaluate(() => document.images[0]?.naturalWidth ?? 0);
      check(response && response.status() === 200 && type === 'image/gif' && width > 0,
            `embed ${i + 1} loaded as an image (${type}, ${width} px wide)`);
    }
    await embed.close();

    // The next page (an incomplete form) lists the advanced value.
    await submitForm(page, 'add', '', '');
    check(
      (await messageOf(page)) === 'Error  Input Counter Name or Description',
      'empty form: "Input Counter Name or Description"',
    );
    row = await rowOf(page, NAME);
    check(row !== null && row.value === '00000002', `value went up by two (${row && row.value})`);
    check(row !== null && row.loaded, 'the advanced value image loaded');

    await submitForm(page, 'reset', NAME, '40');
    check((await messageOf(page)) === 'Counter Reset!', 'reset: "Counter Reset!"');
    row = await rowOf(page, NAME);
    check(row !== null && row.value === '00000040', 'reset value listed');
    check(row !== null && row.loaded, 'the reset value image loaded');

    const shot = join(buildDir, 'artifacts', 'manager.png');
    mkdirSync(dirname(shot), { recursive: true });
    await page.screenshot({ path: shot, fullPage: true });
    // The picture in docs/ is refreshed only on request, so a test run leaves the tree clean.
    if (process.env.VORMEL_UPDATE_DOCS === '1') {
      copyFileSync(shot, join(here, '..', '..', 'docs', 'manager.png'));
    }

    await submitForm(page, 'add', 'bad=name', 'x');
    check((await messageOf(page)) === 'Error  Invalid Counter Name', 'refused name');

    await submitForm(page, 'del', NAME, '');
    check((await messageOf(page)) === 'Counter Deleted!', 'delete: "Counter Deleted!"');
    check((await rowOf(page, NAME)) === null, 'deleted counter no longer listed');

    await submitForm(page, 'del', NAME, '');
    check((await messageOf(page)) === 'Error  Counter Name not found!', 'delete twice: "not found"');
  } finally {
    if (context) await context.close();
    host.kill('SIGTERM');
    rmSync(profile, { recursive: true, force: true });
    rmSync(home, { recursive: true, force: true });
  }
  console.log(failures === 0 ? 'browser_manager: all checks passed' : `${failures} checks failed`);
  process.exitCode = failures === 0 ? 0 : 1;
}

main().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
