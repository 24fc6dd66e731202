-- Prints one machine-readable line at the end of a wrk run.
done = function(summary, latency, requests)
  local seconds = summary.duration / 1e6
  io.write(string.format("RESULT %.1f %.1f %d %d %d %d\n",
    summary.requests / seconds, summary.bytes / seconds,
    latency:percentile(50), latency:percentile(99),
    summary.errors.connect + summary.errors.read + summary.errors.write + summary.errors.timeout,
    summary.errors.status))
end
