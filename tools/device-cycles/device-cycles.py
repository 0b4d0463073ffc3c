#!/usr/bin/env python3
"""Estimates the device's cycles for one 16-frame block of the fixed <16, 8> model and per fast tanh and fast
logistic value.

Cross-builds the model kernels for the board's 64-bit Arm cores (cmake/aarch64-linux-gnu.cmake) and a small
driver (BlockTrace.cpp), records the instructions the driver executes under user-mode QEMU, one per step, cuts
out one steady block, one run of tanh values and one of logistic values between the driver's marker calls, and lets llvm-mca schedule
each straight instruction stream on its model of the core. The model assumes every load hits the first-level
cache and every branch is predicted, so the figures are a floor for the core's work, not a timing.

Needs aarch64-linux-gnu-g++, qemu-aarch64-static and llvm-mca (scripts/deps.sh installs them). $PEDAL_JOBS
overrides the number of parallel build jobs.
Usage: tools/device-cycles/device-cycles.py [--build DIR] [--cpu cortex-a72] [--clock-hz 1.5e9]
"""
import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
FRAMES = 16
ACTIVATION_VALUES = 1024  # as in BlockTrace.cpp
SAMPLE_RATE = 48000.0


def run(command, **kwargs):
    return subprocess.run(command, check=True, text=True, **kwargs)


def build(build_dir, cpu):
    run(["cmake", "-S", ROOT, "-B", build_dir, "-G", "Ninja", "--toolchain",
         os.path.join(ROOT, "cmake", "aarch64-linux-gnu.cmake"), "-DCMAKE_BUILD_TYPE=Release",
         "-DPEDAL_DEVICE_CPU=" + cpu, "-DPEDAL_TARGET=host", "-DPEDAL_TESTS=OFF", "-DPEDAL_BENCH=OFF"],
        stdout=subprocess.DEVNULL)
    jobs = os.environ.get("PEDAL_JOBS", str(os.cpu_count()))
    run(["cmake", "--build", build_dir, "-j", jobs, "--target", "neural", "porting"], stdout=subprocess.DEVNULL)
    # The driver takes the compile line of the model's own object, so its headers see the same flags.
    with open(os.path.join(build_dir, "compile_commands.json")) as f:
        entry = next(e for e in json.load(f) if e["file"].endswith("InternalWaveNetModelT_16_8.cpp"))
    words = shlex.split(entry["command"])
    flags = [w for i, w in enumerate(words[1:], 1)
             if w not in ("-c", "-o") and words[i - 1] not in ("-o", "-c")]
    driver = os.path.join(build_dir, "device-block-trace")
    run([words[0], *flags, os.path.join(HERE, "BlockTrace.cpp"), "-o", driver, "-static",
         os.path.join(build_dir, "neural", "libneural.a"), os.path.join(build_dir, "porting", "libporting.a")])
    return driver


def symbol_addresses(binary, names):
    out = run(["aarch64-linux-gnu-nm", binary], capture_output=True).stdout
    found = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2] in names:
            found[parts[2]] = int(parts[0], 16)
    return found


def trace(driver, marks):
    """The program counters executed between the two calls of each marker."""
    log = tempfile.NamedTemporaryFile(prefix="device-cycles-", suffix=".log", delete=False).name
    try:
        run(["qemu-aarch64-static", "-singlestep", "-d", "exec,nochain", "-D", log, driver],
            stdout=subprocess.DEVNULL)
        pattern = re.compile(r"^Trace [0-9]+: 0x[0-9a-f]+ \[[0-9a-f]+/([0-9a-f]+)/")
        windows = {name: [] for name in marks}
        hits = {name: 0 for name in marks}
        by_address = {address: name for name, address in marks.items()}
        with open(log) as f:
            for line in f:
                match = pattern.match(line)
                if not match:
                    continue
                pc = int(match.group(1), 16)
                name = by_address.get(pc)
                if name is not None:
                    hits[name] += 1
                    continue
                for open_name, count in hits.items():
                    if count == 1:
                        windows[open_name].append(pc)
        return windows
    finally:
        os.unlink(log)


def disassembly(binary):
    out = run(["aarch64-linux-gnu-objdump", "-d", "--no-show-raw-insn", binary], capture_output=True).stdout
    text = {}
    line_pattern = re.compile(r"^\s*([0-9a-f]+):\t(.*)$")
    for line in out.splitlines():
        match = line_pattern.match(line)
        if match:
            text[int(match.group(1), 16)] = match.group(2)
    return text


def assembly(pcs, text):
    """The executed instructions as one straight stream llvm-mca can read: every address operand (branch,
    literal load, page address) names one label, comments go."""
    lines = [".Ltarget:"]
    for pc in pcs:
        instruction = text[pc].split("//")[0].strip()
        instruction = re.sub(r"\b[0-9a-f]+ <[^>]*>", ".Ltarget", instruction)
        lines.append("\t" + instruction.replace("\t", " "))
    return "\n".join(lines) + "\n"


def mca_cycles(source, cpu):
    with tempfile.NamedTemporaryFile("w", suffix=".s", delete=False) as f:
        f.write(source)
        name = f.name
    try:
        out = run([shutil.which("llvm-mca") or "llvm-mca-14", "-mtriple=aarch64-linux-gnu", "-mcpu=" + cpu,
                   "-iterations=1", "-instruction-info=false", "-resource-pressure=false", name],
                  capture_output=True).stdout
    finally:
        os.unlink(name)
    return int(re.search(r"Total Cycles:\s+([0-9]+)", out).group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-arm64-cycles"))
    parser.add_argument("--cpu", default="cortex-a72")
    parser.add_argument("--clock-hz", type=float, default=1.5e9)
    args = parser.parse_args()
    for tool in ("aarch64-linux-gnu-g++", "qemu-aarch64-static"):
        if not shutil.which(tool):
            sys.exit(f"device-cycles: {tool} is missing (scripts/deps.sh installs it)")
    driver = build(args.build, args.cpu)
    marks = symbol_addresses(driver, {"TraceBlockMark", "TraceTanhMark", "TraceLogisticMark"})
    windows = trace(driver, marks)
    text = disassembly(driver)
    block, tanh, logistic = windows["TraceBlockMark"], windows["TraceTanhMark"], windows["TraceLogisticMark"]
    divisions = sum(1 for pc in block if text[pc].startswith("fdiv"))
    block_cycles = mca_cycles(assembly(block, text), args.cpu)
    tanh_cycles = mca_cycles(assembly(tanh, text), args.cpu)
    logistic_cycles = mca_cycles(assembly(logistic, text), args.cpu)
    frame_cycles = args.clock_hz * FRAMES / SAMPLE_RATE
    print(f"llvm-mca -mcpu={args.cpu}, one steady 16-frame block of the fixed <16, 8> model:")
    print(f"  {len(block)} instructions, {divisions} divisions, {block_cycles} cycles, "
          f"{block_cycles / FRAMES:.0f} a sample, {100 * block_cycles / frame_cycles:.1f} % of a 16-frame "
          f"frame at {args.clock_hz / 1e9:g} GHz")
    print(f"  fast tanh over {ACTIVATION_VALUES} values (load, tanh, store): {len(tanh)} instructions, "
          f"{tanh_cycles / ACTIVATION_VALUES:.2f} cycles a value")
    print(f"  fast logistic over {ACTIVATION_VALUES} values (load, logistic, store): {len(logistic)} instructions, "
          f"{logistic_cycles / ACTIVATION_VALUES:.2f} cycles a value")


if __name__ == "__main__":
    main()
