-- wrk script for the load benchmark. Arguments after "--": the request target and the Host
-- header. Pointed at a proxy, the target is the absolute URL; pointed at the origin, the path.
-- At the end it prints one RESULT line with the figures the benchmark script reads.

function init(args)
  wrk.path = args[1]
  wrk.headers["Host"] = args[2]
end

function done(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format(
    "RESULT requests=%d duration_us=%d bytes=%d p50_us=%d p99_us=%d " ..
    "connect=%d read=%d write=%d status=%d timeout=%d\n",
    summary.requests, summary.duration, summary.bytes,
    latency:percentile(50), latency:percentile(99),
    errors.connect, errors.read, errors.write, errors.status, errors.timeout))
end
