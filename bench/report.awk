# The benchmark's table and targets (markdown) from bench/run.sh's results.csv:
# file,bytes,program,seconds,peak_rss_kb,object_bytes,out_bytes. Variables: runs, date, machine.
# A save's MB/s counts the text it wrote; every other row's counts the file read.
NR == 1 { next }
{
    file = $1
    if (!(file in bytes)) order[++files] = file
    bytes[file] = $2
    seconds[file, $3] = $4
    rss[file, $3] = $5
    if ($6 != "-") objectBytes[file] = $6
    if ($7 != "-") written[file, $3] = $7
    programs[file] = programs[file] " " $3
}

function known(file, program) { return (file, program) in seconds && seconds[file, program] != "-" }

# How many times longer `program` takes than ours on `file`: above 1, ours is faster.
function over(file, program, ourProgram) {
    if (!known(file, program) || !known(file, ourProgram) || seconds[file, ourProgram] <= 0) return "-"
    return seconds[file, program] / seconds[file, ourProgram]
}

# A target is met when the value lies within its bounds; "" is no bound.
function target(text, value, low, high,   met) {
    if (value == "-") { printf "| %s | not measured | |\n", text; return }
    met = (low == "" || value >= low) && (high == "" || value <= high)
    printf "| %s | %.2f | %s |\n", text, value, met ? "met" : "NOT met"
}

function perMegabyte(file, program) {
    return known(file, program) ? seconds[file, program] / (bytes[file] / 1e6) : "-"
}

# MB/s of the text the save of `file`'s object wrote.
function textRate(file) {
    if (!known(file, "ours-save") || !((file, "ours-save") in written) || seconds[file, "ours-save"] <= 0) return "-"
    return written[file, "ours-save"] / 1e6 / seconds[file, "ours-save"]
}

function growth(small, large, program,   a, b) {
    a = perMegabyte(small, program); b = perMegabyte(large, program)
    return a == "-" || b == "-" || a <= 0 ? "-" : b / a
}

END {
    printf "Measured %s on %s; median of %d run(s), pinned to one core.\n\n", date, machine, runs
    print "| file | MB | program | seconds | MB/s | peak RSS MB | time / ours |"
    print "|---|---:|---|---:|---:|---:|---:|"
    for (i = 1; i <= files; ++i) {
        file = order[i]
        n = split(substr(programs[file], 2), list, " ")
        for (p = 1; p <= n; ++p) {
            program = list[p]
            if (!known(file, program)) { printf "| %s | | %s | failed | | | |\n", file, program; continue }
            ratio = over(file, program, "ours")
            moved = ((file, program) in written) ? written[file, program] : bytes[file]
            rate = (seconds[file, program] > 0) ? moved / 1e6 / seconds[file, program] : 0
            memory = (rss[file, program] == "-") ? "-" : sprintf("%.0f", rss[file, program] / 1024)
            printf "| %s | %.1f | %s | %.3f | %.1f | %s | %s |\n", file, bytes[file] / 1e6, program,
                seconds[file, program], rate, memory, (ratio == "-") ? "-" : sprintf("%.2f", ratio)
        }
    }
    # The OBJ files: the largest carries the targets, the smallest the growth.
    for (i = 1; i <= files; ++i) {
        file = order[i]
        if (file ~ /^obj/) {
            if (objLarge == "" || bytes[file] > bytes[objLarge]) objLarge = file
            if (objSmall == "" || bytes[file] < bytes[objSmall]) objSmall = file
        }
        if (file ~ /^dxf/) dxf = file
        if (file ~ /^3ds/) tds = file
    }
    print ""
    print "| target | ratio | |"
    print "|---|---:|---|"
    target(objLarge ": read stage at least 3 x faster than tinyobjloader", over(objLarge, "tinyobj", "ours-read"), 3, "")
    target(objLarge ": whole load faster than tinyobjloader's parse", over(objLarge, "tinyobj", "ours"), 1, "")
    target(objLarge ": whole load at least 2 x faster than assimp", over(objLarge, "assimp", "ours"), 2, "")
    memory = known(objLarge, "ours") && objectBytes[objLarge] > 0 ? \
        rss[objLarge, "ours"] * 1024 / (objectBytes[objLarge] + bytes[objLarge]) : "-"
    target(sprintf("%s: peak RSS / (object %.0f MB + file %.0f MB) at most 1.15", objLarge, objectBytes[objLarge] / 1e6,
        bytes[objLarge] / 1e6), memory, "", 1.15)
    target(dxf ": whole load at least 1.5 x faster than assimp", over(dxf, "assimp", "ours"), 1.5, "")
    target(tds ": read stage no slower than lib3ds", over(tds, "lib3ds", "ours-read"), 1, "")
    target(tds ": whole load at least 1.5 x faster than assimp", over(tds, "assimp", "ours"), 1.5, "")
    target(objLarge ": conversion OBJ to OBJ at least 2 x faster than assimp export",
        over(objLarge, "assimp-export", "ours-convert"), 2, "")
    target(objLarge ": OBJ text written at 200 MB/s or more", textRate(objLarge), 200, "")
    target(dxf ": DXF text written at 200 MB/s or more", textRate(dxf), 200, "")
    # Linear growth: the time per MB of the two files within 20 % of each other, either way.
    target("OBJ whole load: time per MB, " objLarge " over " objSmall ", 0.8 to 1.2", growth(objSmall, objLarge, "ours"), 0.8, 1.2)
    target("OBJ read stage: time per MB, " objLarge " over " objSmall ", 0.8 to 1.2", growth(objSmall, objLarge, "ours-read"), 0.8, 1.2)
    print ""
    print "time / ours: the program's time over our whole load's on the same file (above 1: ours is faster)."
    print "ours-save: the save of the loaded object as text of its own format; MB/s of text written."
    print "ours-convert, assimp-export: a whole conversion process, OBJ to OBJ (tamlorn-convert IN OUT; assimp export IN OUT)."
}
