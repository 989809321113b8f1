# The two entry points of the quick start; the work is done by the scripts.
.PHONY: demo test wheel bench bench-peers

demo:
	./scripts/demo.sh

test:
	./scripts/test.sh

wheel:
	./scripts/wheel.sh

bench:
	./scripts/bench.sh

bench-peers:
	./scripts/bench-peers.sh
