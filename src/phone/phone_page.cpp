#include "phone/phone_page.h"

namespace vurin {

namespace {

// Kept in one raw literal so the bytes served are exactly the bytes written here.
constexpr std::string_view kPage = R"VURINPAGE(<!DOCTYPE html>
<html lang="zh">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1, maximum-scale=1, user-scalable=no, viewport-fit=cover">
<meta name="apple-mobile-web-app-capable" content="yes">
<meta name="theme-color" content="#0b0f1a">
<title>Vurin 遥控</title>
<style>
:root{--c:#4ade80}
*{box-sizing:border-box;-webkit-tap-highlight-color:transparent;-webkit-user-select:none;user-select:none;-webkit-touch-callout:none}
html,body{margin:0;height:100%;overflow:hidden;overscroll-behavior:none;background:#0b0f1a;color:#e6ebf5}
body{position:fixed;inset:0;display:flex;flex-direction:column;align-items:center;font-family:-apple-system,system-ui,"PingFang SC","Noto Sans CJK SC",sans-serif;padding:calc(18px + env(safe-area-inset-top)) calc(16px + env(safe-area-inset-right)) calc(14px + env(safe-area-inset-bottom)) calc(16px + env(safe-area-inset-left))}
header{display:flex;align-items:center;gap:10px;min-height:32px}
.dot{width:12px;height:12px;border-radius:50%;background:var(--c);box-shadow:0 0 12px var(--c)}
.state{font-size:15px;color:#aab4c8}
main{flex:1;display:flex;align-items:center;justify-content:center;width:100%}
.btn{width:min(78vw,340px);height:min(78vw,340px);flex:none;border:0;border-radius:50%;padding:0 20px;display:flex;flex-direction:column;align-items:center;justify-content:center;gap:16px;color:#e6ebf5;font:inherit;background:radial-gradient(circle at 50% 38%,#1b2a4a 0%,#121a30 72%);box-shadow:inset 0 0 0 3px #3b4a6b,0 22px 50px rgba(0,0,0,.55);touch-action:none;cursor:pointer;outline:none;transition:transform .08s ease-out,box-shadow .08s ease-out}
.btn.down{transform:scale(.96);box-shadow:inset 0 0 0 4px var(--c),0 0 36px -6px var(--c),0 12px 30px rgba(0,0,0,.5)}
.big{font-size:30px;font-weight:700;letter-spacing:2px;line-height:1.25;text-align:center}
.sub{font-size:14px;line-height:1.7;color:#8f9bb3;text-align:center}
footer{font-size:12px;line-height:1.8;color:#5b6680;text-align:center;min-height:44px}
.warn{color:#f4b860}
</style>
</head>
<body>
<header><span id="dot" class="dot"></span><span id="state" class="state"></span></header>
<main><button id="btn" class="btn" type="button"><span id="big" class="big"></span><span id="sub" class="sub"></span></button></main>
<footer><span id="foot"></span><br><span id="net"></span></footer>
<script>
(function () {
  var T = {zh: {title:"Vurin 遥控",hold:"按住说话",sub:"按住 = 说话 · 松开 = 出字<br>点一下 = 发送 · 双击 = 取消",foot:"Vurin 手机遥控 · 仅在可信 Wi-Fi 使用",connecting:"连接中…",connected:"已连接",reconnecting:"重连中…",dropped:"连接中断,检查 Wi-Fi",
st:{idle:"就绪",recording:"录音中…",transcribing:"转写润色中…",pending:"待发送(点发送)"},
bg:{idle:"按住说话",recording:"松开出字",transcribing:"处理中…",pending:"点=发送"}},
  en: {title:"Vurin Remote",hold:"Hold to talk",sub:"Hold = talk · Release = type<br>Tap = send · Double-tap = cancel",foot:"Vurin phone remote · Use only on trusted Wi-Fi",connecting:"Connecting…",connected:"Connected",reconnecting:"Reconnecting…",dropped:"Disconnected — check Wi-Fi",
st:{idle:"Ready",recording:"Recording…",transcribing:"Transcribing…",pending:"Ready to send (tap)"},
bg:{idle:"Hold to talk",recording:"Release to type",transcribing:"Working…",pending:"Tap = send"}}};
  var C = {idle:"#4ade80",recording:"#f43f5e",transcribing:"#f59e0b",pending:"#38bdf8"};
  var lang = (navigator.language || "en").toLowerCase().indexOf("zh") === 0 ? "zh" : "en";
  var X = T[lang];
  document.documentElement.lang = lang;
  document.title = X.title;
  var token = new URLSearchParams(location.search).get("t") || "";
  var query = "?t=" + encodeURIComponent(token);
  function $(id) { return document.getElementById(id); }
  var btn = $("btn"), dot = $("dot"), net = $("net"), held = false;
  $("big").textContent = X.hold;
  $("sub").innerHTML = X.sub;
  $("foot").textContent = X.foot;
  $("state").textContent = X.connecting;
  function indicate(text, warn) {
    net.textContent = "";
    if (!warn) { net.textContent = text; return; }
    var span = document.createElement("span");
    span.className = "warn";
    span.textContent = text;
    net.appendChild(span);
  }
  function show(s) {
    var k = Object.prototype.hasOwnProperty.call(C, s) ? s : "idle";
    var c = C[k];
    document.documentElement.style.setProperty("--c", c);
    dot.style.background = c;
    dot.style.boxShadow = "0 0 12px " + c;
    $("state").textContent = X.st[k];
    $("big").textContent = X.bg[k];
  }
  function send(path) {
    try {
      fetch(path + query, {method: "POST", keepalive: true, cache: "no-store"})
        .catch(function () { indicate(X.dropped, true); });
    } catch (e) { indicate(X.dropped, true); }
  }
  function press(e) {
    e.preventDefault();
    if (held) return;
    held = true;
    btn.classList.add("down");
    send("/e/down");
  }
  function release(e) {
    if (e) e.preventDefault();
    if (!held) return;
    held = false;
    btn.classList.remove("down");
    send("/e/up");
  }
  btn.addEventListener("pointerdown", function (e) {
    try { btn.setPointerCapture(e.pointerId); } catch (x) {}
    press(e);
  });
  btn.addEventListener("pointerup", release);
  btn.addEventListener("pointercancel", release);
  btn.addEventListener("contextmenu", function (e) { e.preventDefault(); });
  window.addEventListener("blur", function () { release(); });
  var stream = new EventSource("/events" + query);
  stream.onopen = function () { indicate(X.connected, false); };
  stream.onmessage = function (m) { show(String(m.data).trim()); };
  stream.onerror = function () { indicate(X.reconnecting, true); };
})();
</script>
</body>
</html>
)VURINPAGE";

}  // namespace

std::string_view phonePageDocument() {
    return kPage;
}

}  // namespace vurin
