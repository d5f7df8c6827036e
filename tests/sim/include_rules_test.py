#!/usr/bin/env python3
"""The simulator's layers hold, and the command-line programs stand on them:
scripts/check-includes.py finds no broken rule in the source tree, and names
the file and line of each rule broken in a small tree made here, including a
header-only include that no linker would catch.

Usage: include_rules_test.py SOURCE_DIR
"""
import pathlib
import subprocess
import sys
import tempfile

FIXTURE = {
    "sim/base/catalogue.h": '#include <vector>\n#include <nlohmann/json.hpp>\n',
    "sim/base/bad.cpp": '#include "sim/base/catalogue.h"\n#include "sim/observe/trace.h"\n',
    "sim/base/system.h": '#include <windows.h>\n',
    "sim/platform/module.cpp": '#include "sim/base/catalogue.h"\n\n#include "sim/host/exports.h"\n',
    "sim/game/world.cpp": '#include "sim/game/world.h"\n#include "sim/report/svg.h"\n',
    "sim/observe/trace.h": '#include "sim/game/world.h"\n#include "sim/base/catalogue.h"\n',
    "sim/observe/flow.cpp": '#include "sim/recording/reader.h"\n',
    "sim/recording/frames.cpp": '#include "sim/observe/trace.h"\n#include "sim/host/sim.h"\n',
    "sim/host/run.cpp": '#include "sim/recording/reader.h"\n',
    "sim/replay/fit.cpp": '#include "sim/recording/frames.h"\n#include "sim/host/sim.h"\n',
    "sim/host/sim.cpp": '#include "sim/platform/fibre.h"\n  #  include "src/host/host_api.h"\n',
    "sim/report/page.cpp": '#include "sim/host/sim.h"\n#include "sim/observe/trace.h"\n',
    "src/hud/panel.cpp": '#include "src/host/natives.h"\n#include "sim/base/catalogue.h"\n',
    "tools/main.cpp": '#include "sim/report/page.h"\n#include "src/host/natives.h"\n',
    "src/host/entry.cpp": '#include "src/recorder/hooks.h"\n#include "src/recorder/recorder.h"\n',
    "src/recorder/recorder.cpp": '#include "src/host/natives.h"\n#include "sim/base/catalogue.h"\n',
    "sim/host/replay.cpp": '#include "src/recorder/hooks.h"\n',
    "tools/rebound-sim/run_command.cpp": ('#include "tools/rebound-sim/commands.h"\n'
                                         '#include "sim/report/svg.h"\n'
                                         '#include "src/respawn/flow.h"\n'
                                         '#include "tools/soak/soak.h"\n'),
    # Only the plug-in's headers named for this very file.
    "tools/rebound-sim/panel_demo.cpp": '#include "src/hud/panel.h"\n#include "src/hud/bar.h"\n',
    "tools/rebound-sim/natives_command.cpp": '#include "src/hud/panel.h"\n',
    "tools/soak/main.cpp": ('#include "sim/host/simulation.h"\n'
                            '#include "tools/rebound-sim/console.h"\n'),
}
EXPECTED = [
    "sim/base/bad.cpp:2:",
    "sim/base/system.h:1:",
    "sim/game/world.cpp:2:",
    "sim/host/replay.cpp:1:",
    "sim/host/run.cpp:1:",
    "sim/host/sim.cpp:2:",
    "sim/observe/flow.cpp:1:",
    "sim/platform/module.cpp:3:",
    "sim/recording/frames.cpp:2:",
    "src/host/entry.cpp:2:",
    "src/hud/panel.cpp:2:",
    "src/recorder/recorder.cpp:2:",
    "tools/main.cpp:2:",
    "tools/rebound-sim/natives_command.cpp:1:",
    "tools/rebound-sim/panel_demo.cpp:2:",
    "tools/rebound-sim/run_command.cpp:3:",
    "tools/rebound-sim/run_command.cpp:4:",
    "tools/soak/main.cpp:2:",
]


def run(root):
    script = pathlib.Path(sys.argv[1]) / "scripts" / "check-includes.py"
    return subprocess.run([sys.executable, str(script), str(root)], capture_output=True,
                          text=True, check=False)


def main():
    failures = []
    tree = run(pathlib.Path(sys.argv[1]))
    if tree.returncode != 0:
        failures.append("the source tree breaks its include rules:\n" + tree.stdout + tree.stderr)

    with tempfile.TemporaryDirectory() as folder:
        root = pathlib.Path(folder)
        for name, text in FIXTURE.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text, encoding="utf-8")
        made = run(root)
        named = sorted(line.split(" ", 1)[0] for line in made.stdout.splitlines()
                       if not line.startswith("check-includes:"))
        if made.returncode != 1 or named != EXPECTED:
            failures.append(f"in the made tree: status {made.returncode}, named {named}, "
                            f"expected status 1 and {EXPECTED}\n{made.stdout}{made.stderr}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"include rules: {2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
