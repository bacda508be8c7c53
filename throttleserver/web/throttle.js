// The web throttle: one WiThrottle line per WebSocket text message, to the
// same session engine the phone apps use. The page shows only what the
// program reports; a press sends a line and waits for the state to come back.
'use strict';

(function () {
  const MinLoco = 1;
  const MaxLoco = 10239;
  const MaxShortAddress = 127;   // S3 up to here, L300 above
  const MaxSpeed = 126;          // the protocol's scale
  const Throttle = '0';
  const Sep = '<;>';
  // A slider drag sends at most one speed line per this many ms: the program
  // closes a connection that sends more than 50 lines a second for two seconds.
  const SpeedPaceMs = 100;
  const MaxRetryMs = 5000;

  const $ = (id) => document.getElementById(id);
  const ui = {
    banner: $('banner'), status: $('status'), form: $('locoForm'), roster: $('roster'),
    number: $('number'), take: $('take'), locoMessage: $('locoMessage'), title: $('locoTitle'),
    speed: $('speed'), percent: $('speedPercent'), reverse: $('reverse'), forward: $('forward'),
    stop: $('stop'), stopAll: $('stopAll'), power: $('power'), powerState: $('powerState'),
    notice: $('notice'),
    functions: Array.from(document.querySelectorAll('#functions button')),
  };

  // The id a reconnecting page gives again, so that the program replaces the
  // old connection rather than counting a second client.
  function deviceId() {
    let id = null;
    try { id = localStorage.getItem('velantor.id'); } catch (e) { /* private mode */ }
    if (!id) {
      id = 'web-' + Math.random().toString(16).slice(2, 10) + Date.now().toString(16);
      try { localStorage.setItem('velantor.id', id); } catch (e) { /* kept for this page */ }
    }
    return id;
  }
  const id = deviceId();

  const state = {
    socket: null,
    retryMs: 1000,
    heartbeatSeconds: 0,
    beatTimer: null,
    monitored: false,
    wanted: null,      // the loco chosen in this page: {loco, key, line, title}
    held: null,        // the key the program confirmed
    speed: 0,
    forward: true,
    functions: new Array(13).fill(false),
    roster: [],        // the RL line's entries: {name, loco}
    power: 2,          // 0 off, 1 on, 2 unknown
    dragging: false,
    speedTimer: null,
    speedSent: null,
  };

  // --- sending ---------------------------------------------------------------

  function send(line) {
    if (state.socket && state.socket.readyState === WebSocket.OPEN)
      state.socket.send(line);
  }

  function sendAction(action) {
    if (state.held)
      send('M' + Throttle + 'A' + state.held + Sep + action);
  }

  function keyOf(loco) {
    return (loco <= MaxShortAddress ? 'S' : 'L') + loco;
  }

  // A loco by number, or a roster entry by its name (entry from state.roster):
  // the program then gives that entry's labels, also when two share a number.
  function acquire(loco, entry) {
    const key = keyOf(loco);
    const line = 'M' + Throttle + '+' + key + Sep + (entry ? 'E' + entry.name : key);
    if (state.held === key && state.wanted && state.wanted.line === line)
      return;
    // One loco per page: whatever was held or is still being taken goes first,
    // so that no line ever drives two locos.
    if (state.held || state.wanted)
      send('M' + Throttle + '-*' + Sep + 'r');
    // Taken by number, a roster loco is the first entry of that number, as
    // the program takes it.
    const shown = entry || state.roster.find((item) => item.loco === loco);
    state.wanted = { loco: loco, key: key, line: line,
                     title: shown ? entryText(shown) : 'Lok ' + loco };
    send(line);
  }

  // "BR 218 (218)"; the program's own "Lok 3" already names the number.
  function entryText(entry) {
    return entry.name === 'Lok ' + entry.loco ? entry.name : entry.name + ' (' + entry.loco + ')';
  }

  // --- heartbeat: only while the page is seen ---------------------------------

  // A phone whose screen is locked or that left the network stops beating;
  // the program then stops its loco.
  function restartHeartbeat() {
    clearInterval(state.beatTimer);
    state.beatTimer = null;
    if (!state.monitored || state.heartbeatSeconds <= 0 || document.hidden)
      return;
    state.beatTimer = setInterval(() => send('*'), state.heartbeatSeconds * 900);
  }

  function startMonitoring() {
    if (state.monitored || state.heartbeatSeconds <= 0)
      return;
    state.monitored = true;
    send('*+');
    restartHeartbeat();
  }

  document.addEventListener('visibilitychange', () => {
    if (!document.hidden && state.monitored)
      send('*');
    restartHeartbeat();
  });

  // --- showing ----------------------------------------------------------------

  function percentText(speed) {
    return Math.round(speed * 100 / MaxSpeed) + ' %';
  }

  function showSpeed(speed) {
    ui.percent.textContent = percentText(speed);
    ui.speed.setAttribute('aria-valuetext', percentText(speed));
    ui.speed.style.setProperty('--fill', (speed * 100 / MaxSpeed) + '%');
  }

  function showLocoState() {
    // While the knob moves, answers to earlier lines must not pull it back.
    if (!state.dragging && !state.speedTimer) {
      ui.speed.value = String(state.speed);
      showSpeed(state.speed);
    }
    ui.forward.setAttribute('aria-pressed', String(state.forward));
    ui.reverse.setAttribute('aria-pressed', String(!state.forward));
    for (const button of ui.functions) {
      const n = Number(button.dataset.function);
      button.setAttribute('aria-pressed', String(state.functions[n]));
    }
  }

  function showPower() {
    const texts = ['aus', 'an', 'unbekannt'];
    ui.power.setAttribute('aria-pressed', ['false', 'true', 'mixed'][state.power]);
    ui.powerState.textContent = texts[state.power];
  }

  function enableControls() {
    const open = !!(state.socket && state.socket.readyState === WebSocket.OPEN);
    const driving = open && !!state.held;
    for (const control of [ui.speed, ui.reverse, ui.forward, ui.stop, ...ui.functions])
      control.disabled = !driving;
    ui.stopAll.disabled = !open;
    ui.power.disabled = !open;
    ui.take.disabled = !open;
    ui.roster.disabled = !open;
    ui.title.textContent = state.held ? state.wanted.title : 'Keine Lok gewählt';
  }

  // The keys' captions: the label with the F number small above it, or the
  // plain F number (and "Licht") without one.
  function showLabels(labels) {
    for (const button of ui.functions) {
      const n = Number(button.dataset.function);
      const label = (labels[n] || '').trim();
      button.textContent = '';
      if (!label) {
        button.textContent = n === 0 ? 'Licht' : 'F' + n;
        continue;
      }
      const number = document.createElement('span');
      number.className = 'fnum';
      number.textContent = 'F' + n;
      const text = document.createElement('span');
      text.className = 'label';
      text.textContent = label;
      button.append(number, ' ', text);
    }
  }

  // --- what the program sends -------------------------------------------------

  function readRoster(line) {
    const entries = line.split(']\\[').slice(1);
    const chosen = ui.roster.selectedIndex > 0 ? state.roster[ui.roster.selectedIndex - 1] : null;
    ui.roster.length = 1;
    state.roster = [];
    for (const entry of entries) {
      const [name, address] = entry.split('}|{');
      const loco = Number(address);
      if (!Number.isInteger(loco) || loco < MinLoco || loco > MaxLoco)
        continue;
      const item = { name: name || ('Lok ' + loco), loco: loco };
      state.roster.push(item);
      ui.roster.add(new Option(entryText(item), String(state.roster.length - 1)));
    }
    selectRosterEntry(chosen ? chosen.name : null);
  }

  // The entry of that name in the choice, else the first of that number
  // (else none).
  function selectRosterEntry(name, loco) {
    let index = state.roster.findIndex((item) => item.name === name);
    if (index < 0 && loco !== undefined)
      index = state.roster.findIndex((item) => item.loco === loco);
    ui.roster.selectedIndex = index + 1;
  }

  function readAction(action) {
    const kind = action.charAt(0);
    if (kind === 'V') {
      const speed = Number(action.slice(1));
      if (Number.isInteger(speed)) {
        state.speed = Math.max(0, Math.min(MaxSpeed, speed));
        if (!state.dragging && !state.speedTimer)
          state.speedSent = state.speed;
      }
    } else if (kind === 'R') {
      state.forward = action.slice(1) !== '0';
    } else if (kind === 'F') {
      const n = Number(action.slice(2));
      if (Number.isInteger(n) && n >= 0 && n < state.functions.length)
        state.functions[n] = action.charAt(1) === '1';
    } else {
      return;
    }
    showLocoState();
  }

  function readLine(line) {
    if (line.startsWith('M' + Throttle)) {
      const separator = line.indexOf(Sep);
      if (separator < 0)
        return;
      const kind = line.charAt(2);
      const key = line.slice(3, separator);
      const rest = line.slice(separator + Sep.length);
      if (kind === '+' && state.wanted && key === state.wanted.key) {
        state.held = key;
        ui.number.value = String(state.wanted.loco);
        const named = state.wanted.line.split(Sep)[1];
        selectRosterEntry(named.startsWith('E') ? named.slice(1) : null, state.wanted.loco);
        ui.locoMessage.textContent = '';
        // The labels of a roster loco follow in a line of their own.
        showLabels([]);
        enableControls();
        startMonitoring();
      } else if (kind === '-' && (key === state.held || key === '*')) {
        state.held = null;
        showLabels([]);
        enableControls();
      } else if (kind === 'L' && key === state.held) {
        showLabels(rest.split(']\\[').slice(1));
      } else if (kind === 'A' && key === state.held) {
        readAction(rest);
      }
    } else if (line.startsWith('RL')) {
      readRoster(line);
    } else if (line.startsWith('PPA')) {
      const power = Number(line.slice(3));
      state.power = power === 0 || power === 1 ? power : 2;
      showPower();
    } else if (line.startsWith('*')) {
      const seconds = Number(line.slice(1));
      if (Number.isFinite(seconds) && seconds >= 0) {
        state.heartbeatSeconds = seconds;
        restartHeartbeat();
      }
    } else if (line.startsWith('HM') || line.startsWith('Hm')) {
      ui.notice.textContent = line.slice(2);
    }
  }

  // --- the connection ---------------------------------------------------------

  function socketUrl() {
    return (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws';
  }

  function connect() {
    let socket;
    try {
      socket = new WebSocket(socketUrl());
    } catch (e) {
      retryLater();
      return;
    }
    state.socket = socket;
    socket.onopen = () => {
      state.retryMs = 1000;
      ui.banner.hidden = true;
      ui.status.textContent = 'Verbunden';
      send('N' + 'Browser');
      send('HU' + id);
      enableControls();
      // After a lost connection the loco chosen here is taken again.
      if (state.wanted)
        send(state.wanted.line);
    };
    socket.onmessage = (event) => {
      if (typeof event.data !== 'string')
        return;
      for (const line of event.data.split(/\r\n|\r|\n/)) {
        if (line)
          readLine(line);
      }
    };
    socket.onclose = () => {
      if (state.socket !== socket)
        return;
      state.socket = null;
      state.held = null;
      state.monitored = false;
      state.dragging = false;
      restartHeartbeat();
      ui.banner.hidden = false;
      ui.status.textContent = 'Nicht verbunden';
      enableControls();
      retryLater();
    };
  }

  function retryLater() {
    setTimeout(connect, state.retryMs);
    state.retryMs = Math.min(MaxRetryMs, state.retryMs * 2);
  }

  // --- the controls -----------------------------------------------------------

  ui.form.addEventListener('submit', (event) => {
    event.preventDefault();
    const text = ui.number.value.trim();
    const loco = Number(text);
    if (!/^\d+$/.test(text) || loco < MinLoco || loco > MaxLoco) {
      ui.locoMessage.textContent =
        'Bitte eine Lok-Nummer von ' + MinLoco + ' bis ' + MaxLoco + ' eingeben.';
      ui.number.setAttribute('aria-invalid', 'true');
      ui.number.focus();
      return;
    }
    ui.number.removeAttribute('aria-invalid');
    ui.locoMessage.textContent = '';
    acquire(loco);
  });

  ui.roster.addEventListener('change', () => {
    const entry = state.roster[ui.roster.selectedIndex - 1];
    if (!entry)
      return;
    ui.number.value = String(entry.loco);
    ui.number.removeAttribute('aria-invalid');
    ui.locoMessage.textContent = '';
    // The program's own "Lok 3" is taken by number, a roster entry by name.
    acquire(entry.loco, entry.name === 'Lok ' + entry.loco ? null : entry);
  });

  // Speed: sent while the knob moves, paced; the last value always goes out.
  function sendSpeedNow() {
    const speed = Number(ui.speed.value);
    if (speed !== state.speedSent) {
      state.speedSent = speed;
      sendAction('V' + speed);
    }
  }

  function paceSpeed() {
    if (state.speedTimer)
      return;
    sendSpeedNow();
    state.speedTimer = setTimeout(() => {
      state.speedTimer = null;
      if (Number(ui.speed.value) !== state.speedSent)
        paceSpeed();
      else if (!state.dragging)
        showLocoState();
    }, SpeedPaceMs);
  }

  ui.speed.addEventListener('input', () => {
    showSpeed(Number(ui.speed.value));
    paceSpeed();
  });
  ui.speed.addEventListener('pointerdown', () => { state.dragging = true; });
  const endDrag = () => {
    if (!state.dragging)
      return;
    state.dragging = false;
    sendSpeedNow();
  };
  ui.speed.addEventListener('pointerup', endDrag);
  ui.speed.addEventListener('pointercancel', endDrag);
  ui.speed.addEventListener('change', () => {
    endDrag();
    sendSpeedNow();
  });

  ui.forward.addEventListener('click', () => sendAction('R1'));
  ui.reverse.addEventListener('click', () => sendAction('R0'));
  ui.stop.addEventListener('click', () => sendAction('X'));
  // Not a WiThrottle line: every loco the program drives stops.
  ui.stopAll.addEventListener('click', () => send('PXA'));
  ui.power.addEventListener('click', () => send(state.power === 1 ? 'PPA0' : 'PPA1'));

  // Functions: press and release are both sent; the program decides whether
  // the function latches or stays on only while held (F2, the horn).
  for (const button of ui.functions) {
    const n = button.dataset.function;
    let down = false;      // pressed by pointer, touch or key, not yet let go
    const press = () => {
      if (down)
        return;
      down = true;
      sendAction('F1' + n);
    };
    const release = () => {
      if (!down)
        return;
      down = false;
      sendAction('F0' + n);
    };
    if (window.PointerEvent) {
      button.addEventListener('pointerdown', (event) => {
        if (event.button !== 0)
          return;
        // Keeps the release coming to this button when the finger slides off.
        try { button.setPointerCapture(event.pointerId); } catch (e) { /* released already */ }
        press();
      });
      button.addEventListener('pointerup', release);
      button.addEventListener('pointercancel', release);
      button.addEventListener('lostpointercapture', release);
    } else {
      button.addEventListener('touchstart', (event) => { event.preventDefault(); press(); });
      button.addEventListener('touchend', release);
      button.addEventListener('touchcancel', release);
      button.addEventListener('mousedown', press);
      button.addEventListener('mouseup', release);
      button.addEventListener('mouseleave', release);
    }
    // Space and Enter hold the key like a finger; their default (a click,
    // repeated while held) is suppressed.
    const isPressKey = (event) => event.key === ' ' || event.key === 'Enter';
    button.addEventListener('keydown', (event) => {
      if (!isPressKey(event))
        return;
      event.preventDefault();
      press();
    });
    button.addEventListener('keyup', (event) => {
      if (!isPressKey(event))
        return;
      event.preventDefault();
      release();
    });
    button.addEventListener('blur', release);
    button.addEventListener('contextmenu', (event) => event.preventDefault());
    // A click from a pointer (detail 1 and up) was sent as press and release
    // already. One without (a screen reader's activation) is both at once.
    button.addEventListener('click', (event) => {
      if (event.detail > 0 || down)
        return;
      sendAction('F1' + n);
      sendAction('F0' + n);
    });
  }

  showPower();
  enableControls();
  connect();
})();
