// Sheafline's bridge into the pdf.js viewer page.
//
// The program sets the four view options (toolbar, layout, page mode, scroll
// bars) with window.sheafline.apply({...}); the bridge keeps the wanted state
// and applies it whenever the viewer is ready for it: at once on a shown
// document, and again when a document finishes its initial view (which would
// otherwise impose its own or pdf.js's remembered layout).
"use strict";
(function () {
  const wanted = { toolbar: null, layout: null, pageMode: null, scrollbars: null };
  const status = { file: new URLSearchParams(location.search).get("file") || "",
                   loaded: false, firstPageRendered: false, error: "" };
  // The document shown before the last open(): its late events are not ours.
  let previousDocument = null;
  let app = null;

  // pdf.js ScrollMode / SpreadMode / SidebarView values.
  function layoutModes(layout) {
    switch (layout) {
      case "SinglePage": return { scroll: 3, spread: 0 };
      case "TwoColumnLeft": return { scroll: 0, spread: 1 };
      case "TwoColumnRight": return { scroll: 0, spread: 2 };
      default: return { scroll: 0, spread: 0 }; // "DontCare", "OneColumn"
    }
  }
  function sidebarView(pageMode) {
    if (pageMode === "bookmarks") return 2;
    if (pageMode === "thumbs") return 1;
    return 0;
  }

  const style = document.createElement("style");
  style.textContent = `
    body.slNoToolbar #toolbarContainer { display: none; }
    body.slNoToolbar #viewerContainer, body.slNoToolbar #sidebarContainer { top: 0; }
    body.slNoScrollbars #viewerContainer::-webkit-scrollbar { display: none; }
    /* The side pane (bookmarks, thumbnails) sits beside the page at every
       width; pdf.js lays it over the page in narrow windows.  The page area
       moves at once, so that the re-fit below measures its final width. */
    #outerContainer.sidebarOpen #viewerContainer:not(.pdfPresentationMode) {
      inset-inline-start: var(--sidebar-width) !important;
    }
    [dir="ltr"] #outerContainer.sidebarOpen #viewerContainer:not(.pdfPresentationMode) {
      left: var(--sidebar-width) !important;
    }
    [dir="rtl"] #outerContainer.sidebarOpen #viewerContainer:not(.pdfPresentationMode) {
      right: var(--sidebar-width) !important;
    }
    #viewerContainer:not(.pdfPresentationMode) { transition: none !important; }
  `;
  document.head.appendChild(style);

  function applyChrome() {
    if (!document.body) return;
    if (wanted.toolbar !== null) document.body.classList.toggle("slNoToolbar", !wanted.toolbar);
    if (wanted.scrollbars !== null) document.body.classList.toggle("slNoScrollbars", !wanted.scrollbars);
    if (app && app.pdfViewer && app.pdfDocument) app.pdfViewer.update();
  }

  function applyOnLoadOptions() {
    const options = window.PDFViewerApplicationOptions;
    if (!options) return;
    if (wanted.layout !== null) {
      const modes = layoutModes(wanted.layout);
      options.set("scrollModeOnLoad", modes.scroll);
      options.set("spreadModeOnLoad", modes.spread);
    }
    if (wanted.pageMode !== null) options.set("sidebarViewOnLoad", sidebarView(wanted.pageMode));
  }

  function applyLayout() {
    if (!app || !app.pdfDocument || !app.isInitialViewSet || wanted.layout === null) return;
    const modes = layoutModes(wanted.layout);
    if (app.pdfViewer.scrollMode !== modes.scroll) app.pdfViewer.scrollMode = modes.scroll;
    if (app.pdfViewer.spreadMode !== modes.spread) app.pdfViewer.spreadMode = modes.spread;
  }

  function applySidebar() {
    if (!app || !app.pdfDocument || !app.isInitialViewSet || wanted.pageMode === null) return;
    const view = sidebarView(wanted.pageMode);
    if (view === 0) app.pdfSidebar.close();
    else app.pdfSidebar.switchView(view, true);
  }

  // Fits the page to the page area again, as a resize of the window would:
  // the side pane opening or closing changes the area's width.
  function refit() {
    if (app && app.pdfDocument) app.eventBus.dispatch("resize", { source: window });
  }

  function applyAll() {
    applyChrome();
    applyOnLoadOptions();
    applyLayout();
    applySidebar();
  }

  window.sheafline = {
    apply(state) {
      for (const key of Object.keys(wanted)) {
        if (state[key] !== undefined && state[key] !== null) wanted[key] = state[key];
      }
      applyAll();
      return true;
    },
    status() {
      return Object.assign({}, status, { wanted: Object.assign({}, wanted) });
    },
    // Shows another document in this page, which saves starting the viewer
    // and its worker anew for every document.
    open(file) {
      status.file = file;
      status.loaded = false;
      status.firstPageRendered = false;
      status.error = "";
      previousDocument = app.pdfDocument;
      history.replaceState(null, "", "?file=" + encodeURIComponent(file).replace(/%2F/g, "/"));
      app.open(file);
      return true;
    },
  };

  document.addEventListener("webviewerloaded", function () {
    const options = window.PDFViewerApplicationOptions;
    // The program decides the view: no stored preferences, no remembered
    // position per document, no browser history entries, no document scripts.
    options.set("disablePreferences", true);
    options.set("disableHistory", true);
    options.set("viewOnLoad", 1);
    options.set("enableScripting", false);
    options.set("sidebarViewOnLoad", 0);
    options.set("scrollModeOnLoad", 0);
    options.set("spreadModeOnLoad", 0);
    applyOnLoadOptions();
    app = window.PDFViewerApplication;
    // pdf.js's worker would fetch cMaps and standard fonts itself with
    // fetch(), which this engine refuses on a custom scheme; fetched by the
    // page they go through XMLHttpRequest, which works.
    // One worker serves every document of this page: pdf.js would otherwise
    // start (and parse) a new one for each.
    const open = app.open;
    let worker = null;
    app.open = function (file, args) {
      if (!worker) {
        const lib = window.pdfjsLib;
        lib.GlobalWorkerOptions.workerSrc ||= options.get("workerSrc");
        worker = new lib.PDFWorker();
      }
      return open.call(app, file, Object.assign({ useWorkerFetch: false, worker: worker }, args));
    };
    app.initializedPromise.then(function () {
      const bus = app.eventBus;
      // The program learns how a document fares through the console, the
      // one channel it reads without a web channel: "sheafline:<what> <file>".
      const report = what => console.debug("sheafline:" + what + " " + status.file);
      const current = () => app.pdfDocument && app.pdfDocument !== previousDocument;
      bus.on("documentinit", function () {
        if (!current()) return;
        status.loaded = true;
        applyAll();
        report("loaded");
      });
      bus.on("outlineloaded", applySidebar);
      bus.on("sidebarviewchanged", refit);
      bus.on("pagerendered", function () {
        if (status.firstPageRendered || !current()) return;
        status.firstPageRendered = true;
        report("shown");
      });
      bus.on("documenterror", function (e) {
        status.error = String(e && e.message || "error");
        report("failed");
      });
    });
  });
  document.addEventListener("DOMContentLoaded", applyChrome);
})();
