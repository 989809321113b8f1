# The two entry points of the quick start; the work is done by the scripts.
.PHONY: demo test bench bench-peers

demo:
	./scripts/demo.sh

test:
	./scripts/test.sh

bench:
	./scripts/bench.sh

bench-peers:
	./scripts/bench-peers.sh
