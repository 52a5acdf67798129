"""The driver of the property checks run by the suite: trial(binary, rng, t,
tmp) returns None when trial t agrees, else what differed.

    CHECK.py NUMTALLY [TRIALS [SEED]]

Stops after five differing trials; the exit status is 1 when any differed."""
import random
import sys
import tempfile


def run_trials(trial, trials=150, seed=20261211):
    binary = sys.argv[1]
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else trials
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else seed
    rng = random.Random(seed)
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        for t in range(trials):
            why = trial(binary, rng, t, tmp)
            if why is not None:
                failures += 1
                print("trial %d: %s" % (t, why))
                if failures >= 5:
                    break
    print("%d of %d trials differ" % (failures, trials))
    return 1 if failures else 0
