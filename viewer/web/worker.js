// pdf.js's worker, wrapped for the program's own scheme: the worker fetches
// cMaps and standard fonts with fetch(), which this engine refuses for a
// custom scheme, while XMLHttpRequest works.  So fetch() on "sheafline:"
// URLs goes through XMLHttpRequest; everything else is left alone.
"use strict";
(function () {
  const nativeFetch = self.fetch;
  self.fetch = function (input, init) {
    const href = typeof input === "string" ? input : input.url;
    const url = new URL(href, self.location.href);
    if (url.protocol !== "sheafline:") return nativeFetch.call(self, input, init);
    return new Promise(function (resolve, reject) {
      const request = new XMLHttpRequest();
      request.open("GET", url.href, true);
      request.responseType = "arraybuffer";
      request.onload = function () {
        const ok = request.status === 200 || request.status === 0;
        resolve(new Response(request.response, {
          status: ok ? 200 : request.status,
          statusText: ok ? "OK" : request.statusText,
        }));
      };
      request.onerror = function () { reject(new TypeError("cannot load " + url.href)); };
      request.send();
    });
  };
})();
importScripts("../build/pdf.worker.js");
