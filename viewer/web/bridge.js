// Sheafline's bridge into the pdf.js viewer page.
//
// The program sets three view options (layout, page mode, scroll bars) with
// window.sheafline.apply({...}); the bridge keeps the wanted state and
// applies it whenever the viewer is ready for it: at once on a shown
// document, and again when a document finishes its initial view (which would
// otherwise impose its own or pdf.js's remembered layout).
//
// The viewer's own controls never show: the program has its own toolbar,
// messages and password prompt, in Japanese, around the page.  Its toolbar
// drives the viewer through page(), zoom(), rotate() and find(); the prompt
// answers through password().  The bridge reports what the program needs to
// show (the page, the zoom, search results, a password wanted, a failure).
//
// The program also names the documents it may show next with
// window.sheafline.prepare([...]): the bridge loads and parses each in the
// viewer's worker and draws its first page once off screen, so that open()
// of a prepared document only has to show it.
"use strict";
(function () {
  const wanted = { layout: null, pageMode: null, scrollbars: null };
  const status = { file: new URLSearchParams(location.search).get("file") || "",
                   loaded: false, firstPageRendered: false, error: "", prepared: false,
                   reusedDrawing: false };
  // The document shown before the last open(): its late events are not ours.
  let previousDocument = null;
  let app = null;
  // One worker serves every document of this page: pdf.js would otherwise
  // start (and parse) a new one for each.
  let worker = null;
  // Documents prepared ahead: file -> { task, ready }.
  const prepared = new Map();

  // The program learns how a document fares through the console, the one
  // channel it reads without a web channel: "sheafline:<what> <JSON>", the
  // JSON naming the document ("file") and whatever else there is to tell.
  function report(what, details) {
    console.debug("sheafline:" + what + " " + JSON.stringify(Object.assign({ file: status.file }, details)));
  }

  function sharedWorker() {
    if (!worker) {
      const lib = window.pdfjsLib;
      lib.GlobalWorkerOptions.workerSrc ||= window.PDFViewerApplicationOptions.get("workerSrc");
      worker = new lib.PDFWorker();
    }
    return worker;
  }

  // Our additions to what the viewer passes to getDocument: pdf.js's worker
  // would fetch cMaps and standard fonts itself with fetch(), which this
  // engine refuses on a custom scheme; fetched by the page they go through
  // XMLHttpRequest, which works.  And the shared worker.
  function loadArgs(args) {
    return Object.assign({ useWorkerFetch: false, worker: sharedWorker() }, args);
  }

  // What the viewer's own open() passes to getDocument.
  function documentParameters(args) {
    const API = 0x04; // pdf.js OptionKind.API
    return Object.assign(Object.create(null), window.PDFViewerApplicationOptions.getAll(API), loadArgs(args));
  }

  // Stepping through documents leaves the garbage of each behind faster than
  // the engine collects it by itself; collect it once the page is idle.
  let idleCollection = 0;
  function collectGarbageWhenIdle() {
    if (typeof window.gc !== "function" || idleCollection) return;
    idleCollection = requestIdleCallback(function () {
      idleCollection = 0;
      window.gc();
    }, { timeout: 2000 });
  }

  // The viewport at which the viewer will draw page 1 of a document opened
  // now at its automatic zoom (pdf.js's "auto": the width of the page area
  // less its padding, at most 1.25, the height too for a landscape page), or
  // null when this page cannot tell (another layout, a scaled display).
  function fittedViewport(page, pageCount) {
    const viewer = app && app.pdfViewer;
    const container = viewer && viewer.container;
    if (!container || (window.devicePixelRatio || 1) !== 1) return null;
    if (viewer.scrollMode !== 0 || viewer.spreadMode !== 0) return null;
    const css = window.pdfjsLib.PixelsPerInch.PDF_TO_CSS_UNITS;
    const unit = page.getViewport({ scale: css });
    // The zoom is chosen while the pages stand at zoom 1: the page area has
    // a scroll bar then when they are taller than it (9 px borders each).
    const scrollbar = pageCount > 1 || unit.height + 18 > container.clientHeight;
    const width = container.offsetWidth - (scrollbar ? scrollbarThickness(container) : 0);
    const widthScale = (width - 40) / unit.width;
    const heightScale = (container.clientHeight - 5) / unit.height;
    const scale = Math.min(1.25, unit.width <= unit.height ? widthScale : Math.min(heightScale, widthScale));
    if (!(scale > 0)) return null;
    const viewport = page.getViewport({ scale: scale * css });
    // pdf.js lowers the resolution of huge canvases; those are drawn anew.
    return viewport.width * viewport.height <= 16777216 ? viewport : null;
  }

  // How much of the page area's width a vertical scroll bar takes.
  let measuredScrollbar = -1;
  function scrollbarThickness(container) {
    if (document.body.classList.contains("slNoScrollbars")) return 0;
    if (container.scrollHeight > container.clientHeight) return container.offsetWidth - container.clientWidth;
    if (measuredScrollbar < 0) {
      const probe = document.createElement("div");
      probe.style.cssText = "position:absolute;visibility:hidden;overflow-y:scroll;width:100px;height:50px";
      document.body.appendChild(probe);
      measuredScrollbar = probe.offsetWidth - probe.clientWidth;
      probe.remove();
    }
    return measuredScrollbar;
  }

  // Parses the document and draws its first page once, off screen: the page
  // keeps its operator list, fonts and images, so the viewer's own drawing
  // needs nothing more from the worker.  Drawn at the viewport the viewer
  // will ask for, the picture itself is kept for it (entry.drawn).
  async function parseAhead(entry) {
    const pdfDocument = await entry.task.promise;
    const page = await pdfDocument.getPage(1);
    // Drawing takes this page's own thread: never while a document is being
    // shown (one may have begun while this one was parsed).
    for (let current = showing; ; current = showing) {
      await current;
      if (current === showing) break;
    }
    const fitted = fittedViewport(page, pdfDocument.numPages);
    const viewport = fitted || page.getViewport({ scale: 0.1 });
    const canvas = document.createElement("canvas");
    // As pdf.js sizes its canvases at a device pixel ratio of 1.
    canvas.width = Math.max(1, Math.ceil(viewport.width));
    canvas.height = Math.max(1, Math.ceil(viewport.height));
    const annotationMode = window.PDFViewerApplicationOptions.get("annotationMode");
    const pageColors = app.pdfViewer.pageColors || null;
    try {
      await page.render({
        canvasContext: canvas.getContext("2d", { alpha: false }),
        viewport: viewport,
        annotationMode: annotationMode,
        pageColors: pageColors,
      }).promise;
    } catch (e) {
      canvas.width = canvas.height = 0;
      throw e;
    }
    if (fitted) entry.drawn = { page, canvas, viewport, annotationMode, pageColors: JSON.stringify(pageColors) };
    else canvas.width = canvas.height = 0;
  }

  function releaseDrawn(entry) {
    if (entry.drawn) entry.drawn.canvas.width = entry.drawn.canvas.height = 0;
    entry.drawn = null;
  }

  function sameTransform(a, b) {
    return a.length === b.length && a.every((value, i) => value === b[i]);
  }

  // The viewer's next drawing of the prepared first page takes the picture
  // drawn ahead, when it asks for exactly that drawing (same viewport and
  // colours, no extra transform, a canvas of the same size); otherwise, and
  // for every later drawing, the page draws as usual.
  function offerDrawn(entry) {
    const drawn = entry.drawn;
    entry.drawn = null;
    if (!drawn) return;
    const page = drawn.page;
    page.render = function (params) {
      delete page.render;
      const canvas = params.canvasContext.canvas;
      const viewport = params.viewport;
      const usable = !params.transform && !params.background
        && JSON.stringify(params.pageColors || null) === drawn.pageColors
        && params.annotationMode === drawn.annotationMode
        && canvas.width === drawn.canvas.width && canvas.height === drawn.canvas.height
        && viewport.width === drawn.viewport.width && viewport.height === drawn.viewport.height
        && sameTransform(viewport.transform, drawn.viewport.transform);
      if (!usable) {
        drawn.canvas.width = drawn.canvas.height = 0;
        return page.render(params);
      }
      params.canvasContext.drawImage(drawn.canvas, 0, 0);
      drawn.canvas.width = drawn.canvas.height = 0;
      status.reusedDrawing = true;
      return { promise: Promise.resolve(), onContinue: null, cancel() {} };
    };
  }

  // Settles when the document being opened has shown its first page (or
  // failed): preparing the next ones would compete with it for the worker.
  let showing = Promise.resolve();
  let showingDone = null;
  function startShowing() {
    endShowing();
    showing = new Promise(function (resolve) {
      showingDone = resolve;
      setTimeout(resolve, 5000); // never hold preparation back for long
    });
  }
  function endShowing() {
    if (showingDone) showingDone();
    showingDone = null;
  }

  function prepare(files) {
    for (const [file, entry] of prepared) {
      if (!files.includes(file)) {
        prepared.delete(file);
        releaseDrawn(entry);
        if (entry.task) entry.task.destroy();
      }
    }
    for (const file of files) {
      if (prepared.has(file)) continue;
      const entry = { task: null, ready: false, drawn: null };
      prepared.set(file, entry);
      showing.then(function () {
        if (prepared.get(file) !== entry) return;
        entry.task = window.pdfjsLib.getDocument(documentParameters({ url: file }));
        return parseAhead(entry);
      }).then(function () {
        if (prepared.get(file) !== entry || !entry.task) {
          releaseDrawn(entry); // dropped while it was drawn
          return;
        }
        entry.ready = true;
        report("prepared", { file: file });
      }, function () {
        if (prepared.get(file) === entry) report("unprepared", { file: file });
      });
    }
  }

  // The viewer's open() for a document loaded ahead: the same steps, with the
  // loading task that already holds the parsed document.
  async function openPrepared(file, entry) {
    const task = entry.task;
    // Closing lets go of the previous document in the worker; the prepared
    // one need not wait for that (unless there are form changes to save first).
    const closing = app.close();
    closing.catch(() => {});
    if (app.pdfLoadingTask) await closing;
    app.setTitleUsingUrl(file, file);
    app.pdfLoadingTask = task;
    task.onProgress = ({ loaded, total }) => app.progress(loaded / total);
    task.onUnsupportedFeature = app.fallback.bind(app);
    let pdfDocument = null;
    try {
      pdfDocument = await task.promise;
    } catch (e) {
      // Let the viewer try again and say what is wrong.
      releaseDrawn(entry);
      if (app.pdfLoadingTask === task) app.open(file);
      return;
    }
    if (app.pdfLoadingTask !== task) {
      releaseDrawn(entry);
      return;
    }
    offerDrawn(entry);
    app.load(pdfDocument);
  }

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

  // Arrows of the outline's entries (Debian's pdf.js lacks the pictures).
  const arrow = (points) => "url(\"data:image/svg+xml," + encodeURIComponent(
    "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16'><path d='" + points + "' fill='black'/></svg>") + "\")";

  const style = document.createElement("style");
  style.textContent = `
    /* The program shows its own toolbar, messages and password prompt. */
    #toolbarContainer, #toolbarSidebar, #findbar, #secondaryToolbar, #errorWrapper,
    #passwordDialog, #printServiceDialog, #documentPropertiesDialog { display: none !important; }
    #viewerContainer, #sidebarContainer, #sidebarContent { top: 0 !important; }
    :root {
      --treeitem-expanded-icon: ${arrow("M3 5h10l-5 6z")};
      --treeitem-collapsed-icon: ${arrow("M5 3v10l6-5z")};
    }
    .pdfViewer .page.loadingIcon::after { background: var(--loading-icon) center no-repeat !important; }
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

  // Keys of the viewer that would open what the program does not offer (a
  // file chooser, a download, the printing overlay) do nothing here.
  window.addEventListener("keydown", function (e) {
    if ((e.ctrlKey || e.metaKey) && !e.altKey && [79, 80, 83].includes(e.keyCode)) {
      e.preventDefault();
      e.stopImmediatePropagation();
    }
  }, true);

  function applyChrome() {
    if (!document.body) return;
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

  // What the viewer shows now, for the program's toolbar.
  function reportView() {
    if (!app || !app.pdfDocument || app.pdfDocument === previousDocument || !app.isInitialViewSet) return;
    const viewer = app.pdfViewer;
    report("view", { page: viewer.currentPageNumber, pages: viewer.pagesCount,
                     zoom: Math.round(viewer.currentScale * 100), rotation: viewer.pagesRotation });
  }

  // The program's prompt stands in for the viewer's: the viewer hands the
  // bridge the callback that takes the password, the program is told, and
  // password() answers.  A new document forgets an unanswered prompt.
  let passwordWanted = null;
  const programPrompt = {
    setUpdateCallback(callback, reason) {
      passwordWanted = { callback: callback, file: status.file, wrong: reason === 2 }; // INCORRECT_PASSWORD
    },
    open() {
      if (!passwordWanted) return;
      report("password", { wrong: passwordWanted.wrong });
      endShowing();
    },
    close() {},
  };

  // The last search, so that the same text again goes on to the next hit.
  let lastQuery = null;
  let findState = 0;

  // Where the shown document stands, to take over into its next version.
  function currentPlace() {
    const viewer = app && app.pdfViewer;
    if (!viewer || !app.pdfDocument || !app.isInitialViewSet || !viewer._location) return null;
    const place = viewer._location;
    return { page: place.pageNumber, hash: place.pdfOpenParams.replace(/^#/, ""), scale: place.scale,
             rotation: viewer.pagesRotation };
  }

  // Where the next document loaded is to be shown (reload()), or null.
  let placeOnLoad = null;

  function startOpen(file) {
    placeOnLoad = null;
    status.file = file;
    status.loaded = false;
    status.firstPageRendered = false;
    status.error = "";
    passwordWanted = null;
    lastQuery = null;
    previousDocument = app.pdfDocument;
    // Nothing of the document shown before stays over the next one.
    if (app.overlayManager && app.overlayManager.active) app.overlayManager.close().catch(() => {});
    history.replaceState(null, "", "?file=" + encodeURIComponent(file).replace(/%2F/g, "/"));
    startShowing();
    status.reusedDrawing = false;
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
      startOpen(file);
      const entry = prepared.get(file);
      prepared.delete(file);
      status.prepared = !!(entry && entry.task);
      if (status.prepared) openPrepared(file, entry);
      else app.open(file);
      return true;
    },
    // Shows the new version of the shown document (rewritten on disk) at the
    // page, position, zoom and rotation of the old one, as far as the new
    // one still has that page; otherwise its last page.
    reload(file) {
      // A version that could not be shown (half written, say) has no place
      // of its own: the place the last one shown stood at still holds.
      const place = currentPlace() || placeOnLoad;
      startOpen(file);
      status.prepared = false;
      placeOnLoad = place;
      app.open(file);
      return true;
    },
    // The answer to the program's password prompt.
    password(text) {
      const wanted = passwordWanted;
      if (!wanted || wanted.file !== status.file) return false;
      passwordWanted = null;
      startShowing();
      wanted.callback(text);
      return true;
    },
    // The program's toolbar: go to a page (1-based), one page on or back,
    // set the zoom (a scale, or "page-width" / "page-fit"), scale it by a
    // factor, turn the pages a quarter clockwise, search.
    page(number) {
      if (!app || !app.pdfDocument) return false;
      app.page = Math.max(1, Math.min(app.pagesCount, number | 0));
      return true;
    },
    step(delta) {
      if (!app || !app.pdfDocument) return false;
      if (delta > 0) app.pdfViewer.nextPage();
      else app.pdfViewer.previousPage();
      return true;
    },
    zoom(value) {
      if (!app || !app.pdfDocument) return false;
      if (typeof value === "number") app.pdfViewer.currentScale = Math.max(0.1, Math.min(10, value));
      else app.pdfViewer.currentScaleValue = value;
      return true;
    },
    zoomBy(factor) {
      if (!app || !app.pdfDocument) return false;
      app.pdfViewer.currentScale = Math.max(0.1, Math.min(10, app.pdfViewer.currentScale * factor));
      return true;
    },
    rotate() {
      if (!app || !app.pdfDocument) return false;
      app.rotatePages(90);
      return true;
    },
    find(query, previous) {
      if (!app || !app.pdfDocument) return false;
      const again = query === lastQuery && !!app.findController.state;
      lastQuery = query;
      app.eventBus.dispatch("find", {
        source: window, type: again ? "again" : "", query: query, phraseSearch: true, caseSensitive: false,
        entireWord: false, highlightAll: true, findPrevious: !!previous, matchDiacritics: false,
      });
      return true;
    },
    // Holds exactly these documents prepared: new ones are loaded ahead,
    // those no longer named are let go.
    prepare(files) {
      if (!app) return false;
      app.initializedPromise.then(() => prepare(files));
      return true;
    },
    // The files prepared, and whether each is ready to show.
    preparedFiles() {
      const out = {};
      for (const [file, entry] of prepared) out[file] = entry.ready;
      return out;
    },
  };

  document.addEventListener("webviewerloaded", function () {
    const options = window.PDFViewerApplicationOptions;
    // The viewer opens the document its address names by itself.
    if (status.file) startShowing();
    // The program decides the view: no stored preferences, no remembered
    // position per document, no browser history entries, no document scripts.
    options.set("disablePreferences", true);
    options.set("disableHistory", true);
    options.set("viewOnLoad", 1);
    options.set("enableScripting", false);
    options.set("sidebarViewOnLoad", 0);
    options.set("scrollModeOnLoad", 0);
    options.set("spreadModeOnLoad", 0);
    // What the viewer still says itself (a thumbnail's tooltip, say) is in
    // Japanese, from the program's own translation.
    options.set("locale", "ja");
    applyOnLoadOptions();
    app = window.PDFViewerApplication;
    const open = app.open;
    app.open = function (file, args) {
      return open.call(app, file, loadArgs(args));
    };
    const load = app.load;
    app.load = function (pdfDocument) {
      const place = placeOnLoad;
      placeOnLoad = null;
      if (place) {
        const pages = pdfDocument.numPages;
        app.initialBookmark = place.page <= pages ? place.hash : "page=" + pages + "&zoom=" + place.scale;
        app.initialRotation = place.rotation;
      }
      return load.call(app, pdfDocument);
    };
    app.initializedPromise.then(function () {
      app.passwordPrompt = programPrompt;
      // Ctrl+F goes to the program's search field.
      app.findBar.open = function () {
        report("findkey", {});
      };
      // Pages are drawn once a document's initial view has chosen the zoom.
      // Before that the page views stand at the default zoom, and whatever
      // asks for drawing then (the previous document's drawing ending as it
      // closes, a scroll of the emptied container) would draw the first page
      // at that zoom only to draw it again at the fitted one; a prepared
      // document gets there quickly enough to lose that race every time.
      const queue = app.pdfRenderingQueue;
      const renderHighestPriority = queue.renderHighestPriority;
      queue.renderHighestPriority = function (visible) {
        if (app.pdfDocument && !app.isInitialViewSet) return false;
        return renderHighestPriority.call(queue, visible);
      };
      const bus = app.eventBus;
      const current = () => app.pdfDocument && app.pdfDocument !== previousDocument;
      bus.on("documentinit", function () {
        if (!current()) return;
        status.loaded = true;
        applyAll();
        report("loaded", {});
        reportView();
      });
      bus.on("outlineloaded", applySidebar);
      bus.on("sidebarviewchanged", refit);
      bus.on("pagechanging", reportView);
      bus.on("scalechanging", reportView);
      bus.on("rotationchanging", reportView);
      bus.on("pagerendered", function () {
        if (status.firstPageRendered || !current()) return;
        status.firstPageRendered = true;
        report("shown", {});
        endShowing();
        collectGarbageWhenIdle();
      });
      bus.on("documenterror", function (e) {
        status.error = String(e && e.message || "error");
        report("failed", {});
        endShowing();
      });
      bus.on("updatefindcontrolstate", function (e) {
        findState = e.state;
        report("found", { state: e.state, current: e.matchesCount.current, total: e.matchesCount.total });
      });
      bus.on("updatefindmatchescount", function (e) {
        report("found", { state: findState, current: e.matchesCount.current, total: e.matchesCount.total });
      });
    });
  });
  document.addEventListener("DOMContentLoaded", applyChrome);
})();
