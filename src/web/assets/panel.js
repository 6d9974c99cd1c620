// The receiver's front panel in the browser: draws what Plowview sends over the live stream and,
// for a page opened with the control token, sends the keys back. Everything shown comes from the
// receiver and goes into the page as text, never as markup.
"use strict";

(() => {
  const KEY_CODES = {
    ArrowUp: 1,
    ArrowDown: 2,
    ArrowRight: 3,
    Escape: 4,
    ArrowLeft: 8,
    F1: 9,
    F2: 10,
    F3: 11,
    F4: 12,
    F5: 13,
    F6: 14,
    Tab: 15,
  };
  const BUTTON_OF_CODE = { 1: "key-up", 2: "key-down", 3: "key-right", 4: "key-esc", 8: "key-left" };
  const BLINK_MS = 300;

  // The LCD's geometry in the window's pixels (242 x 63): where each row and cell starts, the
  // pitch of the dots and their size.
  const LCD = { width: 242, height: 63, x: 9, y: 5, rowPitch: 26, cellPitch: 14, dotPitch: 2.4, dot: 2.0 };

  const $ = (id) => document.getElementById(id);
  const body = document.body;
  const canvas = $("lcd-canvas");
  const lcdBox = $("lcd");
  const rowText = [$("row0"), $("row1")];
  const enterKey = $("key-enter");
  const keyButtons = Array.from(document.querySelectorAll(".key"));
  const logSection = $("log");
  const logList = $("log-lines");
  const logPause = $("log-pause");
  const note = $("note");

  let socket = null;
  let retryMs = 1000;
  let font = null; // Uint8Array, five column bytes per code
  let access = "none";
  let logMax = 200;
  let state = null;
  let blinkOn = false;
  let blinkTimer = null;
  let enterDown = false;

  function hexBytes(hex) {
    const bytes = new Uint8Array(hex.length >> 1);
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
    return bytes;
  }

  // The row as text: printable ASCII as it is, the panel's own glyphs as "?".
  function textOf(codes) {
    let text = "";
    for (const c of codes) text += c >= 0x20 && c < 0x7f ? String.fromCharCode(c) : "?";
    return text;
  }

  function keysUsable() {
    return access === "control" && state !== null && state.keys && socket && socket.readyState === WebSocket.OPEN;
  }

  function send(message) {
    if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
  }

  function pressKey(code) {
    if (keysUsable()) send({ t: "key", code: code });
  }

  function setEnter(down) {
    if (down === enterDown) return;
    if (down && !keysUsable()) return;
    enterDown = down;
    enterKey.classList.toggle("pushed", down);
    send({ t: "enter", down: down });
  }

  // --- drawing -----------------------------------------------------------------------------

  function draw() {
    const rect = canvas.getBoundingClientRect();
    const ratio = window.devicePixelRatio || 1;
    const w = Math.max(1, Math.round(rect.width * ratio));
    const h = Math.max(1, Math.round(rect.height * ratio));
    if (canvas.width !== w || canvas.height !== h) {
      canvas.width = w;
      canvas.height = h;
    }
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, w, h);
    if (!state || !font) return;
    const scale = w / LCD.width;
    const lit = state.lit;
    const on = lit ? "rgb(0,255,0)" : "rgb(0,128,0)";
    const off = lit ? "rgba(0,255,0,0.13)" : "rgba(120,160,120,0.09)";
    const dot = LCD.dot * scale;
    for (let row = 0; row < 2; row++) {
      const codes = state.rows[row];
      for (let cell = 0; cell < 16; cell++) {
        let code = cell < codes.length ? codes[cell] : 0x20;
        if (blinkOn && state.cursor[0] && state.cursor[2] === row && state.cursor[1] === cell && cell < codes.length)
          code = 0xff;
        const x0 = (LCD.x + cell * LCD.cellPitch) * scale;
        const y0 = (LCD.y + row * LCD.rowPitch) * scale;
        for (let col = 0; col < 5; col++) {
          const bits = font[code * 5 + col] || 0;
          for (let dotRow = 0; dotRow < 8; dotRow++) {
            g.fillStyle = bits & (1 << dotRow) ? on : off;
            g.fillRect(x0 + col * LCD.dotPitch * scale, y0 + dotRow * LCD.dotPitch * scale, dot, dot);
          }
        }
      }
    }
  }

  function updateBlink() {
    const wanted = state && state.cursor[0];
    if (wanted && !blinkTimer) {
      blinkOn = true;
      blinkTimer = setInterval(() => {
        blinkOn = !blinkOn;
        draw();
      }, BLINK_MS);
    } else if (!wanted && blinkTimer) {
      clearInterval(blinkTimer);
      blinkTimer = null;
      blinkOn = false;
    }
  }

  // --- what the stream says ----------------------------------------------------------------

  function showKeys() {
    const usable = keysUsable();
    for (const button of keyButtons) button.disabled = !usable;
    if (!usable && enterDown) {
      enterDown = false;
      enterKey.classList.remove("pushed");
    }
    $("access").textContent = access === "control" ? "Control" : "View only";
    body.dataset.access = access;
    if (body.dataset.live !== "open") return;
    if (access !== "control") note.textContent = "View only: open the control address to press keys.";
    else if (state && !state.keys) note.textContent = "A recording is playing: the keys are off.";
    else note.textContent = "";
  }

  const LINK_TEXT = ["No link", "Connecting", "Connecting", "Link up"];

  function onState(message) {
    const previous = state;
    state = {
      rows: message.rows.map(hexBytes),
      cursor: message.cursor,
      link: message.link,
      lit: message.lit,
      lamp: message.lamp,
      logging: message.logging,
      keys: message.keys,
      title: message.title,
    };
    if (!previous || previous.cursor[0] !== state.cursor[0]) {
      if (blinkTimer) clearInterval(blinkTimer);
      blinkTimer = null;
      updateBlink();
    }
    $("title").textContent = state.title;
    document.title = state.title || "Plowview";
    $("link").textContent = LINK_TEXT[state.link] || "No link";
    body.dataset.link = String(state.link);
    lcdBox.dataset.look = !state.lit ? "dark" : state.lamp ? "logging" : "lit";
    logSection.hidden = !state.logging;
    for (let row = 0; row < 2; row++) {
      const text = textOf(state.rows[row]);
      if (rowText[row].textContent !== text) rowText[row].textContent = text;
    }
    showKeys();
    draw();
  }

  function onLog(lines) {
    if (logPause.checked) return;
    const atEnd = logList.scrollTop + logList.clientHeight >= logList.scrollHeight - 4;
    for (const line of lines) {
      const item = document.createElement("li");
      item.textContent = line;
      logList.appendChild(item);
    }
    while (logList.childElementCount > logMax) logList.firstElementChild.remove();
    if (atEnd) logList.scrollTop = logList.scrollHeight;
  }

  function onMessage(event) {
    let message;
    try {
      message = JSON.parse(event.data);
    } catch (e) {
      return;
    }
    if (message.t === "hello") {
      font = hexBytes(message.font);
      access = message.access === "control" ? "control" : "view";
      logMax = message.logMax || 200;
      showKeys();
    } else if (message.t === "state") {
      onState(message);
    } else if (message.t === "log") {
      onLog(message.lines);
    }
  }

  function connect() {
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    socket = new WebSocket(scheme + "//" + location.host + "/live" + location.search);
    socket.onopen = () => {
      retryMs = 1000;
      body.dataset.live = "open";
      showKeys();
    };
    socket.onmessage = onMessage;
    socket.onclose = () => {
      socket = null;
      body.dataset.live = "lost";
      enterDown = false;
      enterKey.classList.remove("pushed");
      showKeys();
      note.textContent = "The connection to Plowview is lost; trying again.";
      setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, 10000);
    };
  }

  // --- keys ----------------------------------------------------------------------------------

  for (const button of keyButtons) {
    button.addEventListener("contextmenu", (e) => e.preventDefault());
    if (button === enterKey) continue;
    button.addEventListener("click", () => pressKey(Number(button.dataset.code)));
  }

  // Enter is pressed while the pointer holds it and let go when the pointer rises or leaves it.
  enterKey.addEventListener("pointerdown", (e) => {
    if (e.button !== 0) return;
    e.preventDefault();
    setEnter(true);
  });
  for (const type of ["pointerup", "pointercancel", "pointerleave"])
    enterKey.addEventListener(type, () => setEnter(false));
  enterKey.addEventListener("pointermove", (e) => {
    if (!enterDown) return;
    const r = enterKey.getBoundingClientRect();
    if (e.clientX < r.left || e.clientX > r.right || e.clientY < r.top || e.clientY > r.bottom) setEnter(false);
  });
  window.addEventListener("blur", () => setEnter(false));
  document.addEventListener("visibilitychange", () => {
    if (document.hidden) setEnter(false);
  });

  function isReturn(e) {
    return e.key === "Enter" || e.code === "NumpadEnter";
  }

  document.addEventListener("keydown", (e) => {
    if (e.ctrlKey || e.altKey || e.metaKey || e.target instanceof HTMLInputElement) return;
    if (isReturn(e)) {
      e.preventDefault();
      if (!e.repeat) setEnter(true);
      return;
    }
    const code = KEY_CODES[e.key];
    if (code === undefined || !keysUsable()) return;
    e.preventDefault();
    const button = $(BUTTON_OF_CODE[code]);
    if (button) button.classList.add("pushed");
    pressKey(code);
  });
  document.addEventListener("keyup", (e) => {
    if (isReturn(e)) {
      setEnter(false);
      return;
    }
    const button = $(BUTTON_OF_CODE[KEY_CODES[e.key]]);
    if (button) button.classList.remove("pushed");
  });

  window.addEventListener("resize", draw);
  connect();
})();
