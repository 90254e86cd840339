# The lab's comparisons, for busybox awk; the variable "what" chooses one.

# Expands a CPU list ("0-3,8") into a space-separated ascending list.
function expand(list,    n, items, i, r, a, b, c, seen, out) {
    gsub(/[ \t\n]/, "", list)
    n = split(list, items, ",")
    for (i = 1; i <= n; i++) {
        if (items[i] == "") continue
        if (split(items[i], r, "-") == 2) { a = r[1] + 0; b = r[2] + 0 } else { a = b = items[i] + 0 }
        for (c = a; c <= b; c++) seen[c] = 1
    }
    out = ""
    for (c = 0; c <= 8192; c++) if (c in seen) out = out (out == "" ? "" : " ") c
    return out
}

# Writes a space-separated list of CPU numbers in the kernel's range form.
function ranges(cpus,    n, v, i, j, k, t, out) {
    n = split(cpus, v, " ")
    for (i = 1; i <= n; i++) v[i] += 0
    for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
    out = ""
    for (i = 1; i <= n; i = k + 1) {
        for (k = i; k < n && v[k + 1] == v[k] + 1; k++) {}
        out = out (out == "" ? "" : ",") (k > i ? v[i] "-" v[k] : v[i])
    }
    return out
}

# The CPUs of "list" that are in the set "on" (an array of flags).
function within(list, on,    n, v, i, out) {
    n = split(expand(list), v, " ")
    out = ""
    for (i = 1; i <= n; i++) if (v[i] in on) out = out (out == "" ? "" : " ") v[i]
    return out
}

# A rate as tavro prints it ("14.32 MHz") in Hz.
function hz(text,    f) {
    split(text, f, " ")
    if (f[2] == "GHz") return f[1] * 1e9
    if (f[2] == "MHz") return f[1] * 1e6
    if (f[2] == "KHz" || f[2] == "kHz") return f[1] * 1e3
    return f[1] + 0
}

function near(a, b, tolerance) { return b > 0 && a >= b * (1 - tolerance) && a <= b * (1 + tolerance) }

BEGIN {
    if (what == "expand") { print expand(list); exit }
    if (what == "member") { n = split(expand(list), v, " "); for (i = 1; i <= n; i++) if (v[i] == cpu) { print 1; exit } print 0; exit }
    if (what == "kernel-tree" || what == "counts") { n = split(online, v, " "); for (i = 1; i <= n; i++) on[v[i]] = 1 }
    if (what == "features") { features(); exit }
    if (what == "kernel-cpus") { kernel_cpus(); exit }
    if (what == "copy") { copy(); exit }
    if (what == "timer") { timer(); exit }
    if (what == "arm-brand") { FS = "\t" }
}

# riscv-isa: the extensions of an ISA string ("rv64imafdc_zicsr_zba"), in
# lower case: each letter after "rv64" up to the first "_", then each name.
what == "riscv-isa" {
    isa = $1
    if (isa !~ /^rv(32|64)/) exit
    isa = substr(isa, 5)
    n = split(isa, parts, "_")
    out = ""
    for (i = 1; i <= length(parts[1]); i++) out = out (out == "" ? "" : " ") substr(parts[1], i, 1)
    for (i = 2; i <= n; i++) if (parts[i] != "") out = out " " parts[i]
    print out
    exit
}

# The "key : value" lines of /proc/cpuinfo (or /proc/sysinfo), the first of
# each key, blanks trimmed.
(what == "riscv-brand" || what == "power-brand" || what == "s390x-brand") && /:/ {
    key = $0; sub(/[ \t]*:.*/, "", key)
    value = $0; sub(/^[^:]*:[ \t]*/, "", value); sub(/[ \t]+$/, "", value)
    if (!((FILENAME, key) in info)) info[FILENAME, key] = value
    file = FILENAME
}
# s390x-brand (/proc/sysinfo, then /proc/cpuinfo): the machine types of cpuinfo's "processor N: ... machine =
# TYPE" and "machine : TYPE" lines.
what == "s390x-brand" && /machine = / { m = $0; sub(/.*machine = /, "", m); sub(/[ ,].*/, "", m); machines[m] = 1 }
what == "s390x-brand" && /^machine[ \t]*:/ { m = $0; sub(/^[^:]*:[ \t]*/, "", m); sub(/[ \t]+$/, "", m); machines[m] = 1 }

# power-hwcap: "od -tx8" of /proc/self/auxv, a type and a value a line; the
# names of AT_HWCAP's (16) and AT_HWCAP2's (26) bits as the kernel's
# <asm/cputable.h> numbers them and the C library names them, lower case.
what == "power-hwcap" && $1 ~ /^0*10$/ { hwcap = hex($2) }
what == "power-hwcap" && $1 ~ /^0*1a$/ { hwcap2 = hex($2) }

# Lines "cpu N NODE SIBLINGS GROUP TYPE" into the expected tree:
#   node NODE CPUS / group NODE CPUS / core CPUS / levels COUNT
what == "kernel-tree" && $1 == "cpu" {
    node_cpus[$3] = node_cpus[$3] " " $2
    key = $3 " " ranges(within($5, on))
    group_cpus[key] = group_cpus[key] " " $2
    cores[ranges(within($4, on))] = 1
    types[$6] = 1
}
what == "counts" && $1 == "cpu" {
    nodes[$3] = 1; groups[$5] = 1; cores[$4] = 1; types[$6] = 1; threads++
}

# tavro's --topo-debug into the same lines.
what == "tavro-tree" && /^perf_level_count=/ { sub(/^perf_level_count=/, ""); levels = $0 }
what == "tavro-tree" && /^numa node id=/ { sub(/^numa node id=/, ""); node = $0 }
what == "tavro-tree" && /^\|--llc id=/ { sub(/^\|--llc id=/, ""); group = node " " $0 }
what == "tavro-tree" && /\|--core id=/ { core = $0; sub(/.*core id=/, "", core); sub(/ .*/, "", core) }
what == "tavro-tree" && /\|--logical idx=/ {
    cpu = $0; sub(/.* os=/, "", cpu)
    node_cpus[node] = node_cpus[node] " " cpu
    group_cpus[group] = group_cpus[group] " " cpu
    core_cpus[core] = core_cpus[core] " " cpu
}

# --topo-debug then the sampled workers "INDEX ALLOWED LAST-CPU": each
# worker on the CPU of its slot in the placement rule, the workers without a
# slot (and every worker of "os") on every online CPU.
what == "placement" && FNR == NR {
    if (/^perf_level_count=/) { sub(/^perf_level_count=/, ""); level_count = $0 }
    if (/^numa node id=/) { nodes++; gcount[nodes] = 0 }
    if (/^\|--llc id=/) { gcount[nodes]++; ccount[nodes, gcount[nodes]] = 0 }
    if (/\|--core id=/) {
        g = gcount[nodes]; ccount[nodes, g]++
        lv = $0; sub(/.*perf_level=/, "", lv)
        clevel[nodes, g, ccount[nodes, g]] = lv + 0
        lcount[nodes, g, ccount[nodes, g]] = 0
    }
    if (/\|--logical idx=/) {
        c = ccount[nodes, g]; lcount[nodes, g, c]++
        cpu = $0; sub(/.* os=/, "", cpu)
        logical[nodes, g, c, lcount[nodes, g, c]] = cpu
    }
    next
}
what == "placement" { workers++; wallowed[$1] = $2; wlast[$1] = $3 }
what == "same-facts" && FNR == NR { root[FNR] = $0; rootn = FNR; next }
what == "same-facts" { user[FNR] = $0; usern = FNR }
what == "thp" && /^[0-9a-f]+-[0-9a-f]+ / { split($1, r, "-"); size_kb = 0 }
what == "thp" && /^Size:/ { size_kb = $2 }
what == "thp" && /^AnonHugePages:/ { if (size_kb >= min) { grids++; huge += $2 } }
what == "tsc-rate" && /tsc: Refined TSC clocksource calibration: / { refined = $0 }
what == "tsc-rate" && /tsc: Detected [0-9.]+ MHz/ { detected = $0 }
what == "arch-timer-rate" && /arch_timer: .*running at/ { line = $0 }
what == "hpet-rate" && /^Clock Event Device: / { device = $4 }
what == "hpet-rate" && device == "hpet" && /^ mult:/ { mult = $2 }
what == "hpet-rate" && device == "hpet" && /^ shift:/ { shift = $2 }
what == "count-cores" && /\|--core id=/ { count++ }
# "clocksource: tod: mask: 0x... max_cycles: 0x..., max_idle_ns: N ns"
what == "registered-rate" && index($0, "clocksource: " cs ": mask:") {
    line = $0; sub(/.*max_cycles: /, "", line); sub(/,.*/, "", line); max_cycles = hex(line)
    line = $0; sub(/.*max_idle_ns: /, "", line); max_idle = line + 0
}

# arm-brand: first tavro's names table (implementer, vendor, part, name),
# then /proc/cpuinfo.
what == "arm-brand" && FNR == NR && $1 ~ /^0x/ { vendor[tolower($1)] = $2; name[tolower($1) " " tolower($3)] = $4; next }
what == "arm-brand" && /^CPU implementer/ { split($0, f, ": "); impl = tolower(f[2]) }
what == "arm-brand" && /^CPU part/ {
    split($0, f, ": "); key = impl " " tolower(f[2])
    if (!(key in seen)) { seen[key] = 1; kinds++; kind[kinds] = key; first_impl = first_impl == "" ? impl : first_impl }
}

END {
    if (what == "kernel-tree") {
        for (n in node_cpus) print "node " n " " ranges(node_cpus[n])
        for (k in group_cpus) { split(k, p, " "); print "group " p[1] " " ranges(group_cpus[k]) }
        for (c in cores) print "core " c
        t = 0; for (x in types) t++
        print "levels " t
    }
    if (what == "tavro-tree") {
        for (n in node_cpus) print "node " n " " ranges(node_cpus[n])
        for (k in group_cpus) { split(k, p, " "); print "group " p[1] " " ranges(group_cpus[k]) }
        for (c in core_cpus) print "core " ranges(core_cpus[c])
        print "levels " levels
    }
    if (what == "counts") {
        a = 0; for (x in nodes) a++
        b = 0; for (x in groups) b++
        c = 0; for (x in cores) c++
        t = 0; for (x in types) t++
        print a, b, c, threads, t
    }
    if (what == "placement") placement()
    if (what == "same-facts") same_facts()
    if (what == "thp") print "grids " huge + 0 " kB in " grids + 0 " mappings"
    if (what == "tsc-rate") {
        line = refined != "" ? refined : detected
        sub(/.*(calibration: |Detected )/, "", line); sub(/ MHz.*/, "", line)
        printf "%d\n", line * 1e6
    }
    if (what == "arch-timer-rate") { sub(/.*running at /, "", line); sub(/MHz.*/, "", line); printf "%d\n", line * 1e6 }
    if (what == "hpet-rate") { if (mult > 0) printf "%d\n", mult * 1e9 / (2 ^ shift); else print 0 }
    if (what == "count-cores") print count + 0
    if (what == "riscv-brand") {
        if (info[file, "uarch"] != "") { print info[file, "uarch"]; exit }
        if (compatible != "" && compatible != "riscv") { print compatible; exit }
        out = "RISC-V"; n = 0
        split("mvendorid marchid mimpid", ids, " ")
        for (i = 1; i <= 3; i++) if (info[file, ids[i]] != "") out = out (n++ ? ", " : " (") ids[i] " " info[file, ids[i]]
        print out (n ? ")" : "")
    }
    if (what == "power-brand") {
        cpu = info[file, "cpu"]; sub(/,.*/, "", cpu)
        out = cpu
        revision = info[file, "revision"]; sub(/[ \t]*\(.*/, "", revision)
        if (revision != "") out = out ", revision " revision
        if (info[file, "platform"] != "") out = out ", " info[file, "platform"]
        print out
    }
    if (what == "power-hwcap") {
        bits("ppc32 ppc64 ppc601 altivec fpu mmu 4xxmac ucache spe efpsingle efpdouble notb power4 " \
            "power5 power5+ cellbe booke smt ic_snoop arch_2_05 pa6t dfp power6x arch_2_06 vsx archpmu " \
            "- - - - true_le ppcle", hwcap)
        bits("arch_2_07 htm dscr ebb isel tar vcrypto htm-nosc arch_3_00 ieee128 darn scv htm-no-suspend " \
            "arch_3_1 mma", hwcap2)
        print substr(names_out, 2)
    }
    if (what == "s390x-brand") s390x_brand()
    if (what == "registered-rate") {
        # clocks_calc_max_nsecs(): max_idle_ns is half the nanoseconds of
        # max_cycles at the rate lowered by 11 %.
        if (max_idle > 0) printf "%.0f\n", max_cycles * 0.89 * 1e9 / (2 * max_idle); else print 0
    }
    if (what == "arm-brand") {
        out = vendor[first_impl]
        for (i = 1; i <= kinds; i++) out = out (i == 1 ? " " : " + ") name[kind[i]]
        print out
    }
}

# The placement rule: cache groups taken position by position across the
# nodes; within them one core after another; the first hardware thread of
# every core before any second one. "numa" fills the same buckets for every
# efficiency class, "phte" takes the classes one after another.
function placement(    slots, s, lv, b, i, n, g, c, j, longest, buckets, bucket, drained, groups_max, used, allowed, all) {
    s = 0
    groups_max = 0
    for (n = 1; n <= nodes; n++) if (gcount[n] > groups_max) groups_max = gcount[n]
    for (lv = 0; lv < level_count; lv++) {
        if (mode == "phte" || lv == 0) { split("", bucket); split("", bsize); buckets = 0 }
        longest = 0
        for (g = 1; g <= groups_max; g++) for (n = 1; n <= nodes; n++) {
            used = 0
            for (c = 1; c <= ccount[n, g]; c++) if (clevel[n, g, c] == lv) used++
            if (used > longest) longest = used
        }
        for (i = 1; i <= longest; i++) for (g = 1; g <= groups_max; g++) for (n = 1; n <= nodes; n++) {
            used = 0
            for (c = 1; c <= ccount[n, g]; c++) {
                if (clevel[n, g, c] != lv) continue
                if (++used != i) continue
                for (j = 1; j <= lcount[n, g, c]; j++) {
                    bucket[j, ++bsize[j]] = logical[n, g, c, j]
                    if (j > buckets) buckets = j
                }
            }
        }
        if (mode == "phte" || lv == level_count - 1) {
            for (b = 1; b <= buckets; b++) for (i = 1; i <= bsize[b]; i++) slots[s++] = bucket[b, i]
        }
    }
    all = ranges(online)
    if (workers != threads) { print "saw " workers + 0 " of " threads " workers"; return }
    for (i = 0; i < workers; i++) {
        if (mode != "os" && i < s) {
            if (wallowed[i] != slots[i] || wlast[i] != slots[i])
                printf "worker %d on %s (last ran on %s), its slot is %s; ", i, wallowed[i], wlast[i], slots[i]
        } else if (wallowed[i] != all) {
            printf "worker %d unplaced but limited to %s; ", i, wallowed[i]
        }
    }
}

# The two outputs line by line; rates may differ by 5 % (the time-stamp
# counter's is measured, see timer()).
function same_facts(    i, a, b) {
    if (rootn != usern) { printf "%d lines as root, %d as the user", rootn, usern; return }
    for (i = 1; i <= rootn; i++) {
        if (root[i] == user[i]) continue
        a = root[i]; b = user[i]
        if (a ~ /[0-9.]+ [KMG]?Hz/ && b ~ /[0-9.]+ [KMG]?Hz/) {
            sub(/.*: /, "", a); sub(/.*: /, "", b); sub(/ \(.*/, "", a); sub(/ \(.*/, "", b)
            if (near(hz(a), hz(b), 0.05)) continue
        }
        printf "root '%s', user '%s'", root[i], user[i]
        return
    }
}

# The kernel's features (x86: /proc/cpuinfo's flags, under the kernel's
# names; elsewhere the names of kernel_features in the checks) against
# tavro's feature line, both ways; on x86 for the names both know.
function features(    n, v, i, map, k, have, shown, x86, name, flag) {
    n = split(flags, v, " ")
    for (i = 1; i <= n; i++) have[v[i]] = 1
    n = split(got, v, " ")
    for (i = 1; i <= n; i++) shown[v[i]] = 1
    x86 = ("fpu" in have) || ("sse2" in have)
    if (!x86) {
        for (k in have) if (!(toupper(k) in shown)) printf "kernel has %s; ", k
        for (k in shown) if (!(tolower(k) in have)) printf "tavro shows %s; ", k
        return
    }
    n = split("MMX:mmx SSE:sse SSE2:sse2 SSE3:pni SSSE3:ssse3 SSE4.1:sse4_1 SSE4.2:sse4_2 SSE4a:sse4a " \
        "POPCNT:popcnt AES:aes FMA:fma RDRAND:rdrand BMI1:bmi1 BMI2:bmi2 LZCNT:abm XOP:xop AVX:avx " \
        "AVX2:avx2 AVX512F:avx512f AVX512BW:avx512bw AVX512VL:avx512vl AVX512DQ:avx512dq " \
        "AVX512IFMA:avx512ifma AVX512PF:avx512pf AVX512ER:avx512er AVX512CD:avx512cd " \
        "AVX512VBMI:avx512vbmi AVX512VBMI2:avx512_vbmi2 AVX512VNNI:avx512_vnni " \
        "AVX512BITALG:avx512_bitalg AVX512VPOPCNTDQ:avx512_vpopcntdq AVX512_BF16:avx512_bf16 " \
        "AVX512_FP16:avx512_fp16 AVX512_4VNNIW:avx512_4vnniw AVX512_4FMAPS:avx512_4fmaps " \
        "AVX512_VP2INTERSECT:avx512_vp2intersect GFNI:gfni VAES:vaes VPCLMULQDQ:vpclmulqdq " \
        "SHA:sha_ni RDPID:rdpid WAITPKG:waitpkg MOVDIRI:movdiri MOVDIR64B:movdir64b " \
        "SERIALIZE:serialize TSXLDTRK:tsxldtrk PKU:pku OSPKE:ospke CLWB:clwb CLFLUSHOPT:clflushopt " \
        "AMX_TILE:amx_tile AMX_INT8:amx_int8 AMX_BF16:amx_bf16 FSRM:fsrm", v, " ")
    for (i = 1; i <= n; i++) {
        split(v[i], k, ":"); name = k[1]; flag = k[2]
        if ((name in shown) && !(flag in have)) printf "tavro shows %s, the kernel has no %s; ", name, flag
        if (!(name in shown) && (flag in have)) printf "kernel has %s, tavro shows no %s; ", flag, name
    }
}

# The clock source under tavro's name, at the kernel's rate (1 %; 5 % for
# the time-stamp counter, whose rate tavro may measure over 10 ms, which an
# emulator on a busy host stretches; a rate the kernel does not state to
# every user shows as unknown or 0 Hz).
function timer(    want, rate_shown, names, i, n, named) {
    if (cs == "tsc") want = "TSC|iTSC"
    else if (cs == "hpet") want = "HPET"
    else if (cs == "acpi_pm") want = "ACPI"
    else if (cs == "arch_sys_counter") want = "generic timer"
    else if (cs == "riscv_clocksource") want = "RISC-V timer"
    else if (cs == "timebase") want = "timebase"
    else if (cs == "tod") want = "TOD clock"
    else want = "unknown"
    n = split(want, names, "|")
    for (i = 1; i <= n; i++) if (names[i] == source) named = 1
    if (!named) { print "should be " want; return }
    rate_shown = hz(shown)
    if (rate + 0 == 0) {
        if (shown == "unknown" || rate_shown == 0) print "ok"; else print "the kernel states no rate"
        return
    }
    if (near(rate_shown, rate + 0, cs == "tsc" ? 0.05 : 0.01)) print "ok"; else print "rate differs"
}

# The first line of a file, "" when it cannot be read.
function first_line(path,    line) {
    line = ""
    if ((getline line < path) <= 0) line = ""
    close(path)
    return line
}

# One line per online CPU: "cpu N NODE SIBLINGS GROUP TYPE" (see checks).
function kernel_cpus(    n, v, i, c, d, m, nd, j, node, k, level, group, type, midr, core_cpus, atom_cpus) {
    m = split(nodes, nd, " ")
    for (j = 1; j <= m; j++) {
        k = split(expand(first_line(nd[j] "/cpulist")), v, " ")
        node = nd[j]; sub(/.*node/, "", node)
        node_list[node] = first_line(nd[j] "/cpulist")
        for (i = 1; i <= k; i++) node_of[v[i]] = node
    }
    k = split(expand(first_line("/sys/devices/cpu_core/cpus")), v, " ")
    for (i = 1; i <= k; i++) kind_of[v[i]] = "core"
    k = split(expand(first_line("/sys/devices/cpu_atom/cpus")), v, " ")
    for (i = 1; i <= k; i++) kind_of[v[i]] = "atom"
    n = split(online, v, " ")
    for (i = 1; i <= n; i++) {
        c = v[i]; d = sys "/cpu/cpu" c
        group = ""
        for (j = 0; j < 10; j++) {
            level = first_line(d "/cache/index" j "/level")
            if (level == "3") group = first_line(d "/cache/index" j "/shared_cpu_list")
        }
        if (group == "") group = first_line(d "/topology/cluster_cpus_list")
        # Neither (POWER and s390x under qemu): no cache that CPUs share,
        # so the CPUs of the node are one group.
        if (group == "") group = (c in node_of) ? node_list[node_of[c]] : ranges(online)
        midr = first_line(d "/regs/identification/midr_el1")
        type = midr != "" ? midr : (c in kind_of) ? kind_of[c] : "any"
        print "cpu", c, (c in node_of) ? node_of[c] : 0, first_line(d "/topology/thread_siblings_list"), group, type
    }
}

# Copies every file of "files" under the folder "top", reading each to its
# end (sysfs files state a size they do not have). /proc/cpuinfo loses the
# lines that change from boot to boot (the clock measured at boot and the
# BogoMIPS derived from it), so that a snapshot of an unchanged machine is
# the same file.
function copy(    n, v, i, line, out) {
    n = split(files, v, " ")
    for (i = 1; i <= n; i++) {
        out = top v[i]
        printf "" > out
        while ((getline line < v[i]) > 0)
            if (v[i] != "/proc/cpuinfo" || line !~ /^(cpu MHz|bogomips|BogoMIPS)[ \t]*:/) print line > out
        close(v[i]); close(out)
    }
}

# A hexadecimal number, with or without "0x" (exact up to 2^53).
function hex(text,    i, v) {
    text = tolower(text); sub(/^0x/, "", text)
    v = 0
    for (i = 1; i <= length(text); i++) v = v * 16 + index("0123456789abcdef", substr(text, i, 1)) - 1
    return v
}

# Appends to names_out the names of the set bits of a 32-bit word, the
# first name the highest bit ("-": no name).
function bits(names, word,    n, v, i, bit) {
    n = split(names, v, " ")
    bit = 2147483648
    for (i = 1; i <= n; i++) {
        if (int(word / bit) % 2 == 1 && v[i] != "-") names_out = names_out " " v[i]
        bit /= 2
    }
}

# /proc/sysinfo's maker and machine type, which every "machine" field of
# cpuinfo repeats, against tavro's brand: the maker, the type's model name
# and the type in brackets, or "MAKER machine type TYPE" for a type tavro
# has no name of. Prints the brand when it agrees, else what it should be.
function s390x_brand(    maker, type, sysinfo, m, tail) {
    sysinfo = ARGV[1]
    maker = info[sysinfo, "Manufacturer"]; type = info[sysinfo, "Type"]
    for (m in machines) if (m != type) { print "sysinfo type " type ", cpuinfo machine " m; return }
    if (maker == "" || type == "") { print "no maker or type in /proc/sysinfo"; return }
    tail = " (" type ")"
    if (got == maker " machine type " type ||
        (index(got, maker " ") == 1 && length(got) > length(maker tail) + 1 &&
         substr(got, length(got) - length(tail) + 1) == tail)) print got
    else print maker " <model of " type ">" tail
}
