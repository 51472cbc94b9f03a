#include "packager/render/capture_scripts.h"

const char kScrollThroughScript[] = R"JS((async () => {
  const pause = ms => new Promise(done => setTimeout(done, ms));
  const root = document.scrollingElement || document.documentElement;
  const step = Math.max(200, Math.floor(innerHeight * 0.8));
  // Bounded: a page that grows as it is scrolled (endless lists) is scrolled 200 times at most.
  for (let y = 0, n = 0; y < root.scrollHeight && n < 200; y += step, n++) {
    scrollTo(0, y);
    await pause(40);
  }
  scrollTo(0, root.scrollHeight);
  await pause(40);
  scrollTo(0, 0);
  await pause(40);
  return true;
})())JS";

// What the document becomes:
// - every element with its attributes as they are now (scripts set them), comments left out;
// - form fields with their current values, checks and selections as attributes;
// - open shadow roots as declarative shadow DOM (<template shadowrootmode>), their adopted
//   sheets as a <style> at their end;
// - a <style> whose rules a script changed (insertRule, deleteRule) written out from its
//   rules, and a linked sheet so changed as a <style> in its place; the document's adopted
//   (constructed) sheets as a <style> at the end of the body;
// - a <canvas> as an <img> with the picture it shows (a data: address);
// - a same-origin frame as a document of its own, its element pointed at the address it is
//   captured under (a frame without an address of its own gets one beside the page);
// - the character set declared as UTF-8, which is what the text is;
// - the scroll position back at the top.
const char kSerializeScript[] = R"JS((async () => {
  try { await document.fonts.ready; } catch (e) {}
  const HTML = 'http://www.w3.org/1999/xhtml';
  const VOID = new Set(['area', 'base', 'br', 'col', 'embed', 'hr', 'img', 'input', 'keygen',
                        'link', 'meta', 'param', 'source', 'track', 'wbr']);
  const RAW = new Set(['style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'noscript',
                       'plaintext']);
  const frames = [];
  const taken = new Set([location.href]);
  const text = s => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
                     .replace(/\u00a0/g, '&nbsp;');
  const attr = s => s.replace(/&/g, '&amp;').replace(/"/g, '&quot;').replace(/\u00a0/g, '&nbsp;');
  const styleText = s => s.replace(/<\/style/gi, '<\\/style');
  const rulesOf = sheet => {
    try { return Array.from(sheet.cssRules, r => r.cssText).join('\n'); } catch (e) { return null; }
  };
  // A <style> whose rules are still what its text says keeps its text as written.
  const changedRules = el => {
    const live = el.sheet ? rulesOf(el.sheet) : null;
    if (live === null) return null;
    try {
      const fresh = new CSSStyleSheet();
      fresh.replaceSync(el.textContent);
      if (rulesOf(fresh) === live) return null;
    } catch (e) {}
    return live;
  };
  // A linked sheet whose rules a script changed is written out as a <style> from its rules,
  // with its addresses made absolute: they were relative to the sheet, not to the page.
  // Unchanged, it stays a link and is fetched as it is. @import rules are left out of the
  // comparison because a constructed sheet drops them.
  const changedLinks = new Map();
  const ownRules = sheet => {
    try {
      // By type, not by class: a frame's rules are of its own window's classes.
      return Array.from(sheet.cssRules).filter(r => r.type !== CSSRule.IMPORT_RULE)
                  .map(r => r.cssText).join('\n');
    } catch (e) { return null; }
  };
  const absolute = (css, base) => css.replace(/url\("((?:[^"\\]|\\.)*)"\)/g, (all, u) => {
    try {
      return 'url("' + new URL(u.replace(/\\(.)/g, '$1'), base).href.replace(/["\\]/g, '\\$&') +
             '")';
    } catch (e) { return all; }
  });
  const noteChangedLinks = async doc => {
    for (const el of doc.querySelectorAll('link[rel~="stylesheet" i]')) {
      const sheet = el.sheet;
      const live = sheet && sheet.href ? ownRules(sheet) : null;
      if (live === null) continue;  // another site's sheet cannot be read: fetched as it is
      try {
        const answer = await fetch(sheet.href, { cache: 'force-cache' });
        if (!answer.ok) continue;
        const fresh = new CSSStyleSheet();
        fresh.replaceSync(await answer.text());
        if (ownRules(fresh) !== live) changedLinks.set(el, absolute(rulesOf(sheet), sheet.href));
      } catch (e) {}
    }
    for (const el of doc.querySelectorAll('iframe, frame')) {
      let inner = null;
      try { inner = el.contentDocument; } catch (e) {}
      if (inner) await noteChangedLinks(inner);
    }
  };
  const adopted = (root, out) => {
    const sheets = root.adoptedStyleSheets || [];
    const css = sheets.map(rulesOf).filter(t => t).join('\n');
    if (css) out.push('<style>' + styleText(css) + '</style>');
  };
  const picture = canvas => {
    try {
      const data = canvas.toDataURL('image/png');
      return data.startsWith('data:image/') ? data : null;
    } catch (e) { return null; }  // a canvas that shows pictures of another site
  };
  const frameAddress = doc => {
    let address = doc.URL;
    if (!/^https?:/i.test(address) || taken.has(address)) {
      address = new URL('quillbox-frame-' + (frames.length + 1) + '.htm', location.href).href;
    }
    taken.add(address);
    return address;
  };
  const frameOf = el => {
    let doc = null;
    try { doc = el.contentDocument; } catch (e) {}
    if (!doc || !doc.documentElement) return null;  // another site's frame: fetched as it is
    const entry = { address: frameAddress(doc), text: '' };
    frames.push(entry);
    entry.text = documentText(doc);
    return entry.address;
  };
  const attributes = (el, skip) => {
    let s = '';
    for (const a of el.attributes) {
      if (!skip.has(a.name)) s += ' ' + a.name + '="' + attr(a.value) + '"';
    }
    return s;
  };
  const children = (parent, out, raw) => {
    for (let n = parent.firstChild; n; n = n.nextSibling) {
      if (n.nodeType === 1) element(n, out);
      else if (n.nodeType === 3) out.push(raw ? n.data : text(n.data));
    }
  };
  const element = (el, out) => {
    const html = el.namespaceURI === HTML;
    const name = html ? el.localName : el.tagName;
    const skip = new Set();
    let extra = '';
    if (html && name === 'canvas') {
      const data = picture(el);
      if (data) {
        skip.add('src');
        out.push('<img' + attributes(el, skip) + ' src="' + data + '">');
        return;
      }
    }
    if (html && name === 'meta' &&
        (el.hasAttribute('charset') ||
         (el.getAttribute('http-equiv') || '').toLowerCase() === 'content-type')) {
      return;  // the text is UTF-8 whatever the page was
    }
    if (html && name === 'link' && changedLinks.has(el)) {
      out.push('<style' + (el.media ? ' media="' + attr(el.media) + '"' : '') + '>' +
               styleText(changedLinks.get(el)) + '</style>');
      return;
    }
    if (html && name === 'input') {
      const type = (el.type || '').toLowerCase();
      if (type === 'checkbox' || type === 'radio') {
        skip.add('checked');
        if (el.checked) extra += ' checked';
      } else if (type !== 'file' && type !== 'password') {
        skip.add('value');
        extra += ' value="' + attr(el.value) + '"';
      }
    } else if (html && name === 'option') {
      skip.add('selected');
      if (el.selected) extra += ' selected';
    } else if (html && (name === 'iframe' || name === 'frame')) {
      const address = frameOf(el);
      if (address) {
        skip.add('src');
        skip.add('srcdoc');
        extra += ' src="' + attr(address) + '"';
      }
    }
    out.push('<' + name + attributes(el, skip) + extra + '>');
    if (html && name === 'head') out.push('<meta charset="utf-8">');
    if (html && VOID.has(name)) return;
    const shadow = el.shadowRoot;
    if (shadow) {
      out.push('<template shadowrootmode="' + shadow.mode + '"' +
               (shadow.delegatesFocus ? ' shadowrootdelegatesfocus' : '') + '>');
      children(shadow, out, false);
      adopted(shadow, out);
      out.push('</template>');
    }
    if (html && name === 'template') {
      children(el.content, out, false);
    } else if (html && name === 'textarea') {
      out.push(text(el.value));
    } else if (html && name === 'style') {
      const rules = changedRules(el);
      if (rules === null) children(el, out, true);
      else out.push(styleText(rules));
    } else {
      children(el, out, html && RAW.has(name));
    }
    if (html && name === 'body') adopted(el.ownerDocument, out);
    out.push('</' + name + '>');
  };
  const documentText = doc => {
    try { doc.defaultView.scrollTo(0, 0); } catch (e) {}
    const out = [];
    const dt = doc.doctype;
    if (dt) {
      out.push('<!DOCTYPE ' + dt.name + (dt.publicId ? ' PUBLIC "' + dt.publicId + '"' : '') +
               (dt.systemId ? (dt.publicId ? '' : ' SYSTEM') + ' "' + dt.systemId + '"' : '') +
               '>\n');
    }
    if (doc.documentElement) element(doc.documentElement, out);
    return out.join('');
  };
  await noteChangedLinks(document);
  const page = documentText(document);
  return JSON.stringify({ address: location.href, text: page, frames: frames });
})())JS";
