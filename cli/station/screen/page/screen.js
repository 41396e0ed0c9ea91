// The station's screen: a tile per slot and the shift's counts, redrawn
// from every state the station sends. Texts live here, one table a language.
"use strict";

const TEXTS = {
  en: {
    title: "Morvane station",
    done: "Done", passCount: "Pass", failCount: "Fail",
    yield: "First-pass yield", perHour: "Units per hour",
    lastJobs: "Last jobs", none: "Plug a printer in",
    reconnecting: "Connection lost: trying again",
    empty: "EMPTY", waiting: "WAITING", working: "WORKING", pass: "PASS", fail: "FAIL",
    busy: "BUSY", "not-configured": "NOT CONFIGURED",
    keyOf: "key {k} of {m}", number: "No. {n}", inUseBy: "in use by {h}", ok: "ok",
    switchTo: "中文",
  },
  zh: {
    title: "Morvane 工位",
    done: "完成", passCount: "通过", failCount: "失败",
    yield: "一次通过率", perHour: "每小时台数",
    lastJobs: "最近任务", none: "请插入打印机",
    reconnecting: "连接中断，正在重连",
    empty: "空闲", waiting: "等待", working: "配置中", pass: "通过", fail: "失败",
    busy: "端口占用", "not-configured": "未配置",
    keyOf: "第 {k} 项，共 {m} 项", number: "编号 {n}", inUseBy: "被 {h} 占用", ok: "通过",
    switchTo: "English",
  },
};

const chosen = localStorage.getItem("morvane-language");
let language = chosen in TEXTS ? chosen
  : ((navigator.languages || [navigator.language])[0] || "en").toLowerCase().startsWith("zh") ? "zh" : "en";
let state = null;

function text(key, values = {}) {
  return TEXTS[language][key].replace(/\{(\w)\}/g, (_, name) => String(values[name] ?? ""));
}

function element(tag, className, content) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (content !== undefined) e.textContent = content;
  return e;
}

function tile(slot) {
  const t = element("article", "tile " + slot.state);
  t.dataset.slot = slot.slot;
  t.append(element("h2", "slot", slot.slot));
  t.append(element("p", "state", text(slot.state)));
  const detail = [];
  if (slot.state === "working") detail.push(text("keyOf", { k: slot.key, m: slot.keys }));
  if (slot.state === "pass") detail.push(text("number", { n: slot.n }), slot.address || "");
  if (slot.state === "fail") detail.push(text("number", { n: slot.n }), slot.failed_key + ": " + (slot.why || ""));
  if (slot.state === "busy" || slot.state === "not-configured") detail.push(text("inUseBy", { h: slot.holder || "?" }));
  for (const line of detail) if (line) t.append(element("p", "detail", line));
  if (slot.port !== slot.slot && slot.port) t.append(element("p", "port", slot.port));
  return t;
}

function draw() {
  document.documentElement.lang = language === "zh" ? "zh-CN" : "en";
  for (const e of document.querySelectorAll("[data-text]")) e.textContent = text(e.dataset.text);
  document.title = text("title");
  document.getElementById("language").textContent = text("switchTo");
  if (!state) return;
  const shift = state.shift;
  document.getElementById("done").textContent = shift.done;
  document.getElementById("pass").textContent = shift.pass;
  document.getElementById("fail").textContent = shift.fail;
  document.getElementById("yield").textContent = shift.done ? shift.first_pass_yield.toFixed(1) + " %" : "-";
  document.getElementById("perHour").textContent = Math.round(shift.units_per_hour);
  const tiles = document.getElementById("tiles");
  tiles.replaceChildren(...(state.slots.length ? state.slots.map(tile) : [element("p", "", text("none"))]));
  const rows = state.last.map((job) => {
    const row = element("tr", job.ok ? "pass" : "fail");
    row.append(element("td", "", job.time.slice(11, 19)), element("td", "", String(job.n)),
      element("td", "", job.slot), element("td", "", job.address || "-"),
      element("td", "", job.ok ? text("ok") : job.failed_key || text("fail")));
    return row;
  });
  document.querySelector("#last tbody").replaceChildren(...rows);
}

document.getElementById("language").addEventListener("click", () => {
  language = language === "zh" ? "en" : "zh";
  localStorage.setItem("morvane-language", language);
  draw();
});

// The token came in the page's own address; every request carries it.
const token = new URLSearchParams(location.search).get("token") || "";
const events = new EventSource("events?token=" + encodeURIComponent(token));
events.onmessage = (e) => {
  state = JSON.parse(e.data);
  document.getElementById("link").hidden = true;
  draw();
};
events.onerror = () => { document.getElementById("link").hidden = false; };
draw();
