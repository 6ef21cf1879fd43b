// SPDX-License-Identifier: Apache-2.0
#include "web/ConsoleScript.h"

#include <cstdio>
#include <functional>

namespace corvane::web {
namespace {

constexpr std::string_view kScript = R"js(
"use strict";
// Sends every form marked data-upload in the background, with a progress
// bar that shows the bytes sent and the rate, and takes files dropped on
// the form (or, when it is the page's only such form, anywhere on the
// page). Without this script the forms post as they are.
(function () {
  function size(bytes) {
    if (bytes < 1024) return bytes + " bytes";
    const units = ["KiB", "MiB", "GiB", "TiB"];
    let value = bytes / 1024;
    let unit = 0;
    while (value >= 1024 && unit + 1 < units.length) {
      value /= 1024;
      unit++;
    }
    return (Math.round(value * 10) / 10) + " " + units[unit];
  }

  function enhance(form, only) {
    if (form.dataset.enhanced) return;
    form.dataset.enhanced = "1";
    const input = form.querySelector("input[type=file][multiple]") ||
      form.querySelector("input[type=file]");
    if (!input) return;
    const status = document.createElement("div");
    status.className = "upload-status";
    const bar = document.createElement("progress");
    bar.hidden = true;
    bar.max = 1;
    bar.value = 0;
    const text = document.createElement("span");
    text.setAttribute("role", "status");
    text.setAttribute("aria-live", "polite");
    status.append(bar, " ", text);
    const button = form.querySelector("button[type=submit], button:not([type])");
    form.insertBefore(status, button || null);
    bar.setAttribute("aria-label", "Sent so far");
    // Files dropped when the input cannot take them.
    let dropped = null;

    function chose(files) {
      const names = Array.from(files, (file) => file.name);
      text.textContent = names.length + (names.length === 1 ? " file" : " files") +
        " chosen: " + names.join(", ");
    }

    function take(event) {
      event.preventDefault();
      form.classList.remove("dropping");
      const files = event.dataTransfer && event.dataTransfer.files;
      if (!files || files.length === 0) return;
      dropped = files;
      try {
        input.files = files;
        if (input.files.length === files.length) dropped = null;
      } catch (error) {
        // An input that refuses them: they are sent beside it.
      }
      chose(files);
    }
    const area = only ? document.documentElement : form;
    const options = { signal: listening.signal };
    area.addEventListener("dragover", (event) => {
      if (!event.dataTransfer || !Array.from(event.dataTransfer.types).includes("Files")) return;
      event.preventDefault();
      form.classList.add("dropping");
    }, options);
    area.addEventListener("dragleave", (event) => {
      if (event.target === area || !area.contains(event.relatedTarget)) {
        form.classList.remove("dropping");
      }
    }, options);
    area.addEventListener("drop", take, options);
    input.addEventListener("change", () => {
      dropped = null;
      if (input.files.length > 0) chose(input.files);
    });

    function stop(message) {
      text.textContent = message;
      bar.hidden = true;
      if (button) button.disabled = false;
    }

    form.addEventListener("submit", (event) => {
      event.preventDefault();
      const data = new FormData(form, event.submitter || undefined);
      if (dropped) {
        data.delete(input.name);
        for (const file of dropped) data.append(input.name, file);
      }
      let total = 0;
      for (const value of data.values()) {
        if (value instanceof File) total += value.size;
      }
      const most = Number(form.dataset.maxBytes || 0);
      if (most > 0 && total > most) {
        stop("Not sent: these files come to " + size(total) +
          "; the console takes at most " + size(most) + " at once.");
        return;
      }
      const request = new XMLHttpRequest();
      const started = performance.now();
      if (button) button.disabled = true;
      bar.hidden = false;
      bar.value = 0;
      form.dataset.progressEvents = "0";
      text.textContent = "Sending";
      request.upload.addEventListener("progress", (progress) => {
        if (!progress.lengthComputable) return;
        bar.max = progress.total;
        bar.value = progress.loaded;
        const seconds = Math.max((performance.now() - started) / 1000, 0.001);
        text.textContent = size(progress.loaded) + " of " + size(progress.total) +
          " sent, " + size(Math.round(progress.loaded / seconds)) + "/s";
        form.dataset.progressEvents = String(Number(form.dataset.progressEvents) + 1);
      });
      request.addEventListener("load", () => {
        const target = new URL(form.action, location.href);
        const reached = new URL(request.responseURL || target.href);
        if (reached.pathname + reached.search !== target.pathname + target.search) {
          location.assign(reached.href);  // the answer sent the browser on
          return;
        }
        const answer = new DOMParser().parseFromString(request.responseText, "text/html");
        const main = answer.querySelector("main");
        // A refusal leaves the page as it is, with everything chosen.
        if (request.status >= 400) {
          const reason = answer.querySelector("#refusal") ||
            answer.querySelector(".error") || answer.querySelector("main");
          stop("Not sent: " + (reason ? reason.textContent.trim()
            : "the console answered " + request.status + ".") +
            " Everything chosen and typed is still here.");
          return;
        }
        if (!main) {
          stop("The console answered " + request.status + " without a page.");
          return;
        }
        document.querySelector("main").replaceWith(document.adoptNode(main));
        document.title = answer.title;
        main.focus();
        start();
      });
      request.addEventListener("error", () => {
        stop("Not sent: the connection to the console broke. " +
          "Everything chosen and typed is still here.");
      });
      request.open("POST", form.action);
      request.send(data);
    });
  }

  // Ends the page-wide listeners of forms that an answer replaced.
  let listening = new AbortController();

  function start() {
    listening.abort();
    listening = new AbortController();
    if (!window.FormData || !window.DOMParser || !window.XMLHttpRequest) return;
    const forms = document.querySelectorAll("form[data-upload]");
    forms.forEach((form) => enhance(form, forms.length === 1));
  }
  start();
})();
)js";

}  // namespace

std::string_view ConsoleScript() { return kScript; }

const std::string& ConsoleScriptPath() {
  static const std::string path = [] {
    char version[24];
    std::snprintf(version, sizeof version, "%016zx",
                  std::hash<std::string_view>{}(kScript));
    return "/console.js?v=" + std::string(version);
  }();
  return path;
}

}  // namespace corvane::web
