// The live map: polls state.json a few times a second and moves the plane,
// extends the track and redraws the launch line without reloading.
'use strict';

(function () {
  const POLL_MS = 150;
  const TRACK_WIDTH = 4;

  // What the page shows, for whoever drives it without a mouse.
  const view = {
    ready: false,
    fix: false,
    marker: null,
    trackPoints: 0,
    plot: 'none',
    legend: null,
    distance: null,
    following: true,
    tiles: false,
    updates: 0,
    error: null,
  };
  window.vistaroMap = view;

  const map = L.map('map', { preferCanvas: true, worldCopyJump: true }).setView([20, 0], 2);
  L.control.scale({ imperial: false }).addTo(map);

  // A plain grid under the tiles: with no tiles at all the track still
  // shows against something, and the scale bar gives it its size.
  const Grid = L.GridLayer.extend({
    createTile: function () {
      const tile = document.createElement('canvas');
      const size = this.getTileSize();
      tile.width = size.x;
      tile.height = size.y;
      const context = tile.getContext('2d');
      context.strokeStyle = 'rgba(90, 100, 90, 0.35)';
      context.lineWidth = 1;
      context.beginPath();
      for (let i = 0; i < 4; ++i) {
        const at = (i * size.x) / 4 + 0.5;
        context.moveTo(at, 0);
        context.lineTo(at, size.y);
        context.moveTo(0, at);
        context.lineTo(size.x, at);
      }
      context.stroke();
      return tile;
    },
  });
  new Grid({ zIndex: 0, maxZoom: 22 }).addTo(map);

  // ---- Follow the plane, or pan freely ----
  const follow = L.control({ position: 'topright' });
  let followBox = null;
  follow.onAdd = function () {
    const panel = L.DomUtil.create('div', 'map-panel');
    panel.innerHTML = '<label><input type="checkbox" id="follow" checked> Follow plane</label>';
    L.DomEvent.disableClickPropagation(panel);
    followBox = panel.querySelector('input');
    followBox.addEventListener('change', function () {
      setFollowing(followBox.checked);
    });
    return panel;
  };
  follow.addTo(map);
  function setFollowing(on) {
    view.following = on;
    followBox.checked = on;
    if (on && plane) map.panTo(plane.getLatLng());
  }
  // Moving the map by hand means the pilot wants to look elsewhere.
  map.on('dragstart', function () {
    setFollowing(false);
  });

  // ---- Legend ----
  const legend = L.control({ position: 'bottomright' });
  let legendPanel = null;
  legend.onAdd = function () {
    legendPanel = L.DomUtil.create('div', 'map-panel');
    legendPanel.style.display = 'none';
    return legendPanel;
  };
  legend.addTo(map);
  const PLOT_TITLES = { altitude: 'Altitude', rssi: 'RSSI', lostPackets: 'Lost packets' };

  function colourOf(value, range) {
    const span = range.max - range.min;
    const share = span > 0 ? (value - range.min) / span : 0.5;
    // Blue for the least, through green, to red for the most.
    return 'hsl(' + Math.round(240 * (1 - share)) + ', 90%, 45%)';
  }
  function showLegend(plot, range) {
    if (!range) {
      legendPanel.style.display = 'none';
      return;
    }
    const stops = [0, 0.25, 0.5, 0.75, 1].map(function (share) {
      return colourOf(range.min + share * (range.max - range.min), range);
    });
    legendPanel.innerHTML =
      '<div>' + PLOT_TITLES[plot] + (range.unit ? ' (' + range.unit + ')' : '') + '</div>' +
      '<div class="legend-bar" style="background: linear-gradient(to right, ' +
      stops.join(', ') + ')"></div>' +
      '<div class="legend-ends"><span>' + range.min + '</span><span>' + range.max +
      '</span></div>';
    legendPanel.style.display = '';
  }

  // ---- Track ----
  const track = [];  // [lat, lon, altitude, rssi, lost]
  const segments = L.layerGroup().addTo(map);
  let trackId = 0;
  let colouring = { plot: 'none', legend: null };
  const VALUE_INDEX = { altitude: 2, rssi: 3, lostPackets: 4 };

  function segmentColour(point) {
    if (!colouring.legend) return '#d02090';
    return colourOf(point[VALUE_INDEX[colouring.plot]], colouring.legend);
  }
  function addSegments(from) {
    for (let i = Math.max(1, from); i < track.length; ++i) {
      L.polyline([track[i - 1].slice(0, 2), track[i].slice(0, 2)], {
        color: segmentColour(track[i]),
        weight: TRACK_WIDTH,
        interactive: false,
      }).addTo(segments);
    }
  }
  function redrawTrack() {
    segments.clearLayers();
    addSegments(1);
  }

  // ---- Plane, launch site, launch line ----
  let plane = null;
  let planeIconUrl;
  let launch = null;
  let launchLine = null;

  function planeIcon(url) {
    const inner = url
      ? '<img src="' + url + '" alt="">'
      : '<svg viewBox="-20 -20 40 40"><path d="M0,-18 L12,16 L0,9 L-12,16 Z" ' +
        'fill="#1060d0" stroke="#fff" stroke-width="2"/></svg>';
    return L.divIcon({ className: 'plane-icon', html: inner, iconSize: [40, 40] });
  }
  function turn(heading) {
    const element = plane.getElement();
    if (element && element.firstChild) {
      element.firstChild.style.transform = 'rotate(' + heading + 'deg)';
    }
  }
  function formatDistance(metres) {
    return metres < 1000 ? Math.round(metres) + ' m' : (metres / 1000).toFixed(2) + ' km';
  }

  function apply(state) {
    if (!view.tiles && state.tiles) {
      L.tileLayer(state.tiles, {
        maxZoom: 19,
        zIndex: 1,
        attribution: state.attribution,
      }).addTo(map);
      view.tiles = true;
    }

    if (state.trackId !== trackId || state.trackFrom === 0) {
      track.length = 0;
      trackId = state.trackId;
      segments.clearLayers();
    }
    const before = track.length;
    Array.prototype.push.apply(track, state.track);
    const legendChanged =
      state.plot !== colouring.plot || JSON.stringify(state.legend) !== JSON.stringify(colouring.legend);
    colouring = { plot: state.plot, legend: state.legend || null };
    if (legendChanged) {
      redrawTrack();
      showLegend(state.plot, colouring.legend);
    } else {
      addSegments(before);
    }

    view.fix = state.fix;
    if (state.fix) {
      const at = [state.plane.lat, state.plane.lon];
      if (!plane) {
        plane = L.marker(at, { icon: planeIcon(state.icon), interactive: false, zIndexOffset: 1000 })
          .addTo(map);
        planeIconUrl = state.icon;
        // The first fix: from the world down to the field.
        map.setView(at, Math.max(map.getZoom(), 16));
      } else {
        plane.setLatLng(at);
        if (state.icon !== planeIconUrl) {
          plane.setIcon(planeIcon(state.icon));
          planeIconUrl = state.icon;
        }
      }
      turn(state.plane.heading);
      if (view.following) map.panTo(at, { animate: false });
      view.marker = { lat: state.plane.lat, lon: state.plane.lon, heading: state.plane.heading };

      if (state.launch) {
        const home = [state.launch.lat, state.launch.lon];
        if (!launch) {
          launch = L.marker(home, {
            icon: L.divIcon({ className: 'launch-icon', iconSize: [18, 18] }),
            title: 'Launch site',
          }).addTo(map);
          launchLine = L.polyline([home, at], { color: '#222', weight: 2, dashArray: '6 6' })
            .bindTooltip('', { permanent: true, direction: 'center', className: 'distance-label' })
            .addTo(map);
        }
        launch.setLatLng(home);
        launchLine.setLatLngs([home, at]);
        launchLine.setTooltipContent(formatDistance(state.distance));
        view.distance = state.distance;
      }
    }
    view.trackPoints = track.length;
    view.plot = state.plot;
    view.legend = state.legend || null;
    view.updates += 1;
    view.ready = true;
  }

  function poll() {
    fetch('state.json?have=' + track.length + '&track=' + trackId, { cache: 'no-store' })
      .then(function (reply) {
        if (!reply.ok) throw new Error('state.json: HTTP ' + reply.status);
        return reply.json();
      })
      .then(function (state) {
        apply(state);
        view.error = null;
      })
      .catch(function (error) {
        // The viewer closing or restarting: keep trying.
        view.error = String(error);
      })
      .finally(function () {
        setTimeout(poll, POLL_MS);
      });
  }
  poll();
})();
