-- wrk script of the web benchmark: asks for the paths given after "--" in turn (the URL's own
-- path when there are none), and prints what the benchmark reads:
-- "load: REQUESTS MICROSECONDS P99_MICROSECONDS ERRORS".
local paths = {}
local count = 0

function init(args)
  for i, path in ipairs(args) do
    paths[i] = path
  end
end

function request()
  count = count + 1
  if #paths == 0 then
    return wrk.format(nil, nil)
  end
  return wrk.format(nil, paths[(count - 1) % #paths + 1])
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("load: %d %d %d %d\n", summary.requests, summary.duration,
                         latency:percentile(99), e.connect + e.read + e.write + e.status + e.timeout))
end
