// Loads the live map in headless chromium and checks what it shows.
//   node map_page_check.cjs CHROMIUM URL LAT LON POINTS
// Prints "ready" once the plane stands at LAT/LON with POINTS of track, then
// reads "LAT LON" of a new fix from standard input and waits at most a
// second for the plane to get there. Exits non-zero with the reason on any
// failure.
'use strict';

const { chromium } = require('playwright-core');
const readline = require('readline');

const [executablePath, url, lat, lon, points] = process.argv.slice(2);
async function main() {
  const browser = await chromium.launch({
    executablePath,
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    await page.goto(url);
    await page
      .waitForFunction(
        ([lat, lon, points]) => {
          const map = window.vistaroMap;
          return map && map.ready && map.marker && map.trackPoints === points &&
            Math.abs(map.marker.lat - lat) < 1e-6 && Math.abs(map.marker.lon - lon) < 1e-6;
        },
        [Number(lat), Number(lon), Number(points)],
        { timeout: 15000, polling: 50 })
      .catch(async () => {
        const seen = await page.evaluate(() => JSON.stringify(window.vistaroMap));
        throw new Error('the page never showed the flight; it shows ' + seen + ' ' + errors.join('; '));
      });
    const legend = await page.evaluate(() => window.vistaroMap.legend);
    if (!legend || legend.unit !== 'dBm') throw new Error('no RSSI legend: ' + JSON.stringify(legend));
    if (errors.length) throw new Error('the page threw: ' + errors.join('; '));
    process.stdout.write('ready\n');

    const line = await new Promise((resolve) => {
      readline.createInterface({ input: process.stdin }).once('line', resolve);
    });
    const [newLat, newLon] = line.trim().split(/\s+/).map(Number);
    const start = Date.now();
    await page
      .waitForFunction(
        ([lat, lon]) => {
          const marker = window.vistaroMap.marker;
          return Math.abs(marker.lat - lat) < 1e-6 && Math.abs(marker.lon - lon) < 1e-6;
        },
        [newLat, newLon],
        { timeout: 1000, polling: 20 })
      .catch(async () => {
        const seen = await page.evaluate(() => JSON.stringify(window.vistaroMap.marker));
        throw new Error('the plane did not move within a second; it stands at ' + seen);
      });
    const trackPoints = await page.evaluate(() => window.vistaroMap.trackPoints);
    if (trackPoints !== Number(points) + 1) throw new Error('the track has ' + trackPoints + ' points');
    process.stdout.write('moved in ' + (Date.now() - start) + ' ms\n');
  } finally {
    await browser.close();
  }
}

main().then(
  () => process.exit(0),
  (error) => {
    process.stderr.write('map page check: ' + error.message + '\n');
    process.exit(1);
  });
