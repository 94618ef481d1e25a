// Runs ruff (its WebAssembly build, from the npm registry) over Python files: lint
// findings and files whose formatting differs, or, with --fix, the files reformatted and
// the findings that ruff knows how to fix fixed.
//
//   node ruff_check.js SETTINGS.json [--fix] FILE...
// Exits 1 when something was found (without --fix: anything; with it: what is left).
"use strict";
const fs = require("fs");
const ruff = require("@astral-sh/ruff-wasm-nodejs");

// Rounds of fixes per file: a fix can make room for another (imports sorted after an
// unused one went, say).
const FixRounds = 5;

const [settingsPath, ...rest] = process.argv.slice(2);
const fix = rest[0] === "--fix";
const files = fix ? rest.slice(1) : rest;
const workspace = new ruff.Workspace(JSON.parse(fs.readFileSync(settingsPath, "utf8")),
                                     ruff.PositionEncoding.Utf8);

// The byte offset of a 1-based row and column (columns count UTF-8 bytes).
function offsetOf(lineStarts, location) {
    return lineStarts[location.row - 1] + location.column - 1;
}

function lineStartsOf(bytes) {
    const starts = [0];
    for (let i = 0; i < bytes.length; i++) {
        if (bytes[i] === 0x0a)
            starts.push(i + 1);
    }
    return starts;
}

// Applies the fixes of the findings that have one and do not overlap, from the end.
function applyFixes(source, diagnostics) {
    const bytes = Buffer.from(source, "utf8");
    const starts = lineStartsOf(bytes);
    const edits = [];
    for (const d of diagnostics) {
        if (d.fix === null)
            continue;
        for (const e of d.fix.edits) {
            edits.push({from: offsetOf(starts, e.location), to: offsetOf(starts, e.end_location),
                        text: e.content === null ? "" : e.content});
        }
    }
    edits.sort((a, b) => b.from - a.from || b.to - a.to);
    let result = bytes;
    let limit = Infinity;
    for (const edit of edits) {
        if (edit.to > limit)
            continue;
        result = Buffer.concat([result.subarray(0, edit.from), Buffer.from(edit.text, "utf8"),
                                result.subarray(edit.to)]);
        limit = edit.from;
    }
    return result.toString("utf8");
}

let found = 0;
for (const file of files) {
    const source = fs.readFileSync(file, "utf8");
    let text = source;
    if (fix) {
        for (let round = 0; round < FixRounds; round++) {
            const fixed = workspace.format(applyFixes(text, workspace.check(text)));
            if (fixed === text)
                break;
            text = fixed;
        }
        if (text !== source)
            fs.writeFileSync(file, text);
    } else if (workspace.format(source) !== source) {
        console.log(`${file}: not formatted as ruff format would`);
        found++;
    }
    for (const d of workspace.check(text)) {
        console.log(`${file}:${d.start_location.row}:${d.start_location.column}: ` +
                    `${d.code} ${d.message}`);
        found++;
    }
}
console.log(`ruff ${ruff.Workspace.version()}: ${files.length} files, ${found} findings`);
process.exit(found > 0 ? 1 : 0);
