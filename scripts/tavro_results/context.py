"""The machine's context around a run, read from Linux's /proc and /sys.

Every reader fails soft: a fact that cannot be read is None (null in the
record). The sysfs root and the /proc root are parameters, so that the
readers run on saved trees as well as on the live system.
"""

import json
import os
import platform
import re
import resource
import socket
import statistics
import subprocess
import threading
import time

# A v1 memory limit this large is the kernel's "no limit" value.
V1_UNLIMITED_MEMORY = 1 << 62
LOAD_PER_CPU_LIMIT = 0.5
# Clock sources of a virtual machine's hypervisor: the fast timer reads
# the hypervisor's clock, not the processor's.
VIRTUAL_CLOCK_SOURCES = ("kvm-clock", "xen", "hyperv_clocksource_tsc_page")


def read_text(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as stream:
            return stream.read().strip()
    except OSError:
        return None


def read_int(path):
    text = read_text(path)
    try:
        return int(text)
    except (TypeError, ValueError):
        return None


def cpu_list_count(text):
    """The number of CPUs in a list such as "0-3,8"; None when unreadable."""
    if not text:
        return None
    count = 0
    try:
        for part in text.split(","):
            low, _, high = part.partition("-")
            count += int(high or low) - int(low) + 1
    except ValueError:
        return None
    return count


def numbered(folder, prefix):
    """The entries prefixN of a folder, in the order of N."""
    try:
        names = os.listdir(folder)
    except OSError:
        return []
    found = [n for n in names if re.fullmatch(re.escape(prefix) + r"\d+", n)]
    return sorted(found, key=lambda n: int(n[len(prefix):]))


def key_values(text, separator=":"):
    """The "key: value" lines of a /proc file as a dict."""
    values = {}
    for line in (text or "").splitlines():
        key, found, value = line.partition(separator)
        if found:
            values.setdefault(key.strip(), value.strip())
    return values


def lscpu_fields():
    """`lscpu --json` as {field: text}, or None where lscpu is missing."""
    try:
        done = subprocess.run(["lscpu", "--json"], capture_output=True, timeout=20, check=True)
        entries = json.loads(done.stdout)["lscpu"]
    except (OSError, subprocess.SubprocessError, ValueError, KeyError):
        return None
    fields = {}

    def add(items):
        for item in items:
            fields[item.get("field", "").rstrip(":")] = item.get("data")
            add(item.get("children", []))

    add(entries)
    return fields


# What firmware writes where it was never told the processor's name: the
# vendor's template texts, a socket label, and an emulator's machine type
# ("virt-7.2", "pc-q35-7.2").
FIRMWARE_PLACEHOLDERS = re.compile(
    r"|to be filled by o\.?e\.?m\.?|not specified|not available|not applicable|default string"
    r"|unknown|none|n/a|other|(cpu|socket|proc|processor) ?\d*"
    r"|virt(-[\w.]+)?|pc(-(i440fx|q35))?(-[\w.]+)?",
    re.IGNORECASE)


def smbios_processor_version(raw):
    """The version string of an SMBIOS type 4 (processor) structure given as
    its raw bytes, without blanks around it; None when the structure is not
    of type 4, is cut short, or has no version string."""
    # The formatted part: type (byte 0), its own length (byte 1), and at
    # offset 0x10 the number of the version string, counted from 1 among the
    # zero-terminated strings that follow the formatted part.
    if not raw or len(raw) <= 0x10 or raw[0] != 4:
        return None
    length, number = raw[1], raw[0x10]
    if length <= 0x10 or length > len(raw) or number == 0:
        return None
    strings = raw[length:]
    at = 0
    for _ in range(number - 1):
        end = strings.find(b"\0", at)
        if end <= at:  # unterminated, or the empty string that ends the table
            return None
        at = end + 1
    end = strings.find(b"\0", at)
    if end <= at:
        return None
    return strings[at:end].decode("utf-8", errors="replace").strip()


def firmware_processor_name(sys_root):
    """The processor's name as the firmware's SMBIOS record gives it (only
    root may read it); None when unreadable or a placeholder."""
    try:
        with open(os.path.join(sys_root, "firmware/dmi/entries/4-0/raw"), "rb") as stream:
            raw = stream.read()
    except OSError:
        return None
    name = smbios_processor_version(raw)
    if name is None or FIRMWARE_PLACEHOLDERS.fullmatch(name):
        return None
    return name


def processor(sys_root, proc_root, lscpu):
    cpu_dir = os.path.join(sys_root, "devices/system/cpu")
    cpus = numbered(cpu_dir, "cpu")
    online = read_text(os.path.join(cpu_dir, "online"))
    topology = [os.path.join(cpu_dir, c, "topology") for c in cpus]
    cores = {read_text(os.path.join(t, "core_cpus_list")) or read_text(
        os.path.join(t, "thread_siblings_list")) for t in topology}
    packages = {read_text(os.path.join(t, "physical_package_id")) for t in topology}
    nodes = numbered(os.path.join(sys_root, "devices/system/node"), "node")
    cpuinfo = key_values(read_text(os.path.join(proc_root, "cpuinfo")))
    lscpu = lscpu or {}
    try:
        allowed = len(os.sched_getaffinity(0))
    except OSError:
        allowed = None
    return {
        "model": lscpu.get("Model name") or cpuinfo.get("model name"),
        "vendor": lscpu.get("Vendor ID") or cpuinfo.get("vendor_id"),
        "architecture": platform.machine() or None,
        "sockets": len(packages) if cpus and None not in packages else None,
        "cores": len(cores) if cpus and None not in cores else None,
        "threads": cpu_list_count(online) or (len(cpus) or None),
        "numa_nodes": len(nodes) or None,
        "allowed_cpus": allowed,
        "firmware_name": firmware_processor_name(sys_root),
    }


def caches(sys_root):
    """The caches of CPU 0, each with the number of its instances."""
    cpu_dir = os.path.join(sys_root, "devices/system/cpu")
    cpus = numbered(cpu_dir, "cpu")
    found = []
    for index in numbered(os.path.join(cpu_dir, "cpu0", "cache"), "index") if cpus else []:
        folder = os.path.join(cpu_dir, "cpu0", "cache", index)
        shared = {read_text(os.path.join(cpu_dir, c, "cache", index, "shared_cpu_list"))
                  for c in cpus}
        shared.discard(None)
        found.append({
            "level": read_int(os.path.join(folder, "level")),
            "type": read_text(os.path.join(folder, "type")),
            "size_bytes": size_bytes(read_text(os.path.join(folder, "size"))),
            "shared_by_cpus": cpu_list_count(read_text(os.path.join(folder, "shared_cpu_list"))),
            "instances": len(shared) or None,
        })
    return found or None


def size_bytes(text):
    """A size such as "48K" or "2048 kB" in bytes; None when unreadable."""
    match = re.fullmatch(r"(\d+)\s*([KMG]?)i?B?", text or "", re.IGNORECASE)
    if not match:
        return None
    return int(match.group(1)) * 1024 ** " KMG".index(match.group(2).upper() or " ")


def memory(meminfo):
    kib = {k: size_bytes(v) for k, v in meminfo.items()}
    swap_total, swap_free = kib.get("SwapTotal"), kib.get("SwapFree")
    return {
        "total_bytes": kib.get("MemTotal"),
        "available_bytes": kib.get("MemAvailable"),
        "swap_total_bytes": swap_total,
        "swap_used_bytes": None if None in (swap_total, swap_free) else swap_total - swap_free,
    }


def huge_pages(sys_root, meminfo):
    def choice(name):
        # "always [madvise] never": the bracketed word is the mode in force.
        match = re.search(r"\[(\w[\w+]*)\]", read_text(os.path.join(
            sys_root, "kernel/mm/transparent_hugepage", name)) or "")
        return match.group(1) if match else None

    def count(key):
        try:
            return int(meminfo[key])
        except (KeyError, ValueError):
            return None

    return {
        "transparent": choice("enabled"),
        "transparent_defrag": choice("defrag"),
        "pool_pages": count("HugePages_Total"),
        "pool_free_pages": count("HugePages_Free"),
        "page_size_bytes": size_bytes(meminfo.get("Hugepagesize")),
    }


def kernel(proc_root):
    os_release = key_values(read_text("/etc/os-release"), "=")
    return {
        "system": platform.system() or None,
        "release": platform.release() or None,
        "version": read_text(os.path.join(proc_root, "sys/kernel/version")) or platform.version(),
        "distribution": os_release.get("PRETTY_NAME", "").strip('"') or None,
    }


def cpufreq(sys_root):
    cpu_dir = os.path.join(sys_root, "devices/system/cpu")
    folders = [os.path.join(cpu_dir, c, "cpufreq") for c in numbered(cpu_dir, "cpu")]
    folders = [f for f in folders if os.path.isdir(f)]

    def values(name, read=read_text):
        found = [read(os.path.join(f, name)) for f in folders]
        return [v for v in found if v is not None]

    governors = sorted(set(values("scaling_governor")))
    low, high = values("cpuinfo_min_freq", read_int), values("cpuinfo_max_freq", read_int)
    return {
        "driver": (values("scaling_driver") or [None])[0],
        "governors": governors or None,
        "min_mhz": min(low) / 1000 if low else None,
        "max_mhz": max(high) / 1000 if high else None,
    }


def smt(sys_root):
    active = read_int(os.path.join(sys_root, "devices/system/cpu/smt/active"))
    return {
        "control": read_text(os.path.join(sys_root, "devices/system/cpu/smt/control")),
        "active": None if active is None else active == 1,
    }


def unescape(field):
    return re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), field)


def cgroup_folders(proc_root, controller):
    """(version, folders) of every hierarchy that carries the controller
    (v1) and of the unified one (v2): the process's group and its parents
    up to the mount point, innermost first."""
    mounts = []
    for line in (read_text(os.path.join(proc_root, "self/mountinfo")) or "").splitlines():
        fields = line.split()
        if "-" in fields and len(fields) - fields.index("-") >= 4 and fields.index("-") >= 6:
            dash = fields.index("-")
            mounts.append((unescape(fields[3]), unescape(fields[4]), fields[dash + 1],
                           fields[dash + 3].split(",")))
    found = []
    for line in (read_text(os.path.join(proc_root, "self/cgroup")) or "").splitlines():
        hierarchy, _, rest = line.partition(":")
        controllers, _, group = rest.partition(":")
        unified = hierarchy == "0" and controllers == ""
        if not unified and controller not in controllers.split(","):
            continue
        for root, point, fs_type, options in mounts:
            if (fs_type == "cgroup2") if unified else (fs_type == "cgroup" and controller in options):
                parts = [p for p in group.split("/") if p]
                root_parts = [p for p in root.split("/") if p]
                inside = parts[: len(root_parts)] == root_parts and not {".", ".."} & set(parts)
                parts = parts[len(root_parts):] if inside else []
                folders = [os.path.join(point, *parts[:k]) for k in range(len(parts), -1, -1)]
                found.append((2 if unified else 1, folders))
                break
    return found


def control_groups(proc_root):
    memory_groups, cpu_groups = [], []
    for version, folders in cgroup_folders(proc_root, "memory"):
        for folder in folders:
            limit = read_int(os.path.join(folder, "memory.max" if version == 2
                                          else "memory.limit_in_bytes"))
            if limit is not None and limit >= V1_UNLIMITED_MEMORY:
                limit = None
            stat = key_values(read_text(os.path.join(folder, "memory.stat")), " ")
            inactive = stat.get("inactive_file" if version == 2 else "total_inactive_file")
            memory_groups.append({
                "version": version, "path": folder, "limit_bytes": limit,
                "usage_bytes": read_int(os.path.join(folder, "memory.current" if version == 2
                                                     else "memory.usage_in_bytes")),
                "inactive_file_bytes": int(inactive) if inactive and inactive.isdigit() else None,
            })
    for version, folders in cgroup_folders(proc_root, "cpu"):
        for folder in folders:
            if version == 2:
                words = (read_text(os.path.join(folder, "cpu.max")) or "").split()
                quota, period = (words + [None, None])[:2]
            else:
                quota = read_text(os.path.join(folder, "cpu.cfs_quota_us"))
                period = read_text(os.path.join(folder, "cpu.cfs_period_us"))
            as_int = lambda t: int(t) if t and t.isdigit() else None  # "max" and -1: no quota
            cpu_groups.append({"version": version, "path": folder, "quota_us": as_int(quota),
                               "period_us": as_int(period)})
    headrooms = [g["limit_bytes"] - max(0, (g["usage_bytes"] or 0) - (g["inactive_file_bytes"] or 0))
                 for g in memory_groups if g["limit_bytes"] is not None]
    quotas = [max(1, g["quota_us"] // g["period_us"]) for g in cpu_groups
              if g["quota_us"] and g["period_us"]]
    return {
        "memory": memory_groups, "cpu": cpu_groups,
        "memory_headroom_bytes": max(0, min(headrooms)) if headrooms else None,
        "cpu_quota_cpus": min(quotas) if quotas else None,
    }


def thread_limits(proc_root):
    soft, _ = resource.getrlimit(resource.RLIMIT_NPROC)
    return {
        "threads_max": read_int(os.path.join(proc_root, "sys/kernel/threads-max")),
        "user_processes": None if soft == resource.RLIM_INFINITY else soft,
    }


def load_average(proc_root):
    try:
        return [float(v) for v in read_text(os.path.join(proc_root, "loadavg")).split()[:3]]
    except (AttributeError, ValueError):
        return None


def read_context(sys_root="/sys", proc_root="/proc"):
    """Everything the record tells about the machine, read now."""
    meminfo = key_values(read_text(os.path.join(proc_root, "meminfo")))
    lscpu = lscpu_fields()
    return {
        "host": socket.gethostname() or None,
        "processor": processor(sys_root, proc_root, lscpu),
        "lscpu": lscpu,
        "caches": caches(sys_root),
        "memory": memory(meminfo),
        "huge_pages": huge_pages(sys_root, meminfo),
        "kernel": kernel(proc_root),
        "clock_source": read_text(os.path.join(
            sys_root, "devices/system/clocksource/clocksource0/current_clocksource")),
        "cpufreq": cpufreq(sys_root),
        "smt": smt(sys_root),
        "control_groups": control_groups(proc_root),
        "thread_limits": thread_limits(proc_root),
        "load_average": load_average(proc_root),
    }


def warnings(context, threads=None):
    """What makes a score taken now unrepresentative, one sentence each;
    threads is the run's thread count where known (None: one per CPU)."""
    found = []
    governors = [g for g in context["cpufreq"]["governors"] or [] if g != "performance"]
    if governors:
        found.append(f"the cpufreq governor is {', '.join(governors)}, not performance: "
                     "the clock may change during the run")
    cpus = context["processor"]["threads"]
    load = context["load_average"]
    if cpus and load and load[0] > LOAD_PER_CPU_LIMIT * cpus:
        found.append(f"the load average is {load[0]:.2f} on {cpus} CPUs (more than "
                     f"{LOAD_PER_CPU_LIMIT} per CPU): other work is running")
    swap = context["memory"]["swap_used_bytes"]
    if swap:
        found.append(f"{swap / 2**20:.1f} MiB of swap is in use: memory is short")
    groups = (context.get("control_groups") or {}).get("cpu") or []
    quotas = [g["quota_us"] / g["period_us"] for g in groups if g["quota_us"] and g["period_us"]]
    wanted = threads or context["processor"]["allowed_cpus"] or cpus
    if quotas and wanted and min(quotas) < wanted:
        found.append(f"a CPU quota of {min(quotas):.2f} CPUs for {wanted} thread"
                     f"{'s' if wanted != 1 else ''}: the score measures the quota, not the machine")
    if context.get("clock_source") in VIRTUAL_CLOCK_SOURCES:
        found.append(f"the clock source is {context['clock_source']}, a virtual machine's: "
                     "the timings go through the hypervisor")
    return found


class FrequencySampler:
    """Reads every CPU's current frequency from cpufreq once a second, on a
    thread of its own, between start() and stop()."""

    def __init__(self, sys_root="/sys", interval_s=1.0):
        cpu_dir = os.path.join(sys_root, "devices/system/cpu")
        self.files = {int(c[3:]): os.path.join(cpu_dir, c, "cpufreq/scaling_cur_freq")
                      for c in numbered(cpu_dir, "cpu")}
        self.files = {c: f for c, f in self.files.items() if os.path.exists(f)}
        self.interval_s = interval_s
        self.samples = []  # (seconds since start, {cpu: MHz})
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample, daemon=True)

    def start(self):
        if self.files:
            self.start_time = time.monotonic()
            self.thread.start()

    def sample(self):
        while True:
            now = time.monotonic() - self.start_time
            mhz = {c: read_int(f) for c, f in self.files.items()}
            self.samples.append((now, {c: v / 1000 for c, v in mhz.items() if v is not None}))
            if self.done.wait(self.interval_s):
                return

    def stop(self):
        """The samples' summary for the record, or None without cpufreq."""
        if not self.files:
            return None
        self.done.set()
        self.thread.join()
        return summarize_frequency(self.samples, self.interval_s)


def summarize_frequency(samples, interval_s):
    def spread(values):
        return {"min_mhz": min(values), "median_mhz": statistics.median(values),
                "max_mhz": max(values)}

    per_cpu = {}
    over_time = []
    for seconds, mhz in samples:
        for cpu, value in mhz.items():
            per_cpu.setdefault(cpu, []).append(value)
        if mhz:
            over_time.append({"time_s": round(seconds, 3), **spread(list(mhz.values()))})
    return {
        "source": "cpufreq scaling_cur_freq",
        "interval_s": interval_s,
        "per_cpu": [{"cpu": cpu, "samples": len(v), **spread(v)} for cpu, v in sorted(per_cpu.items())],
        "over_time": over_time,
    }
