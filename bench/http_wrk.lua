-- wrk script for bench/http: cycles through the requests of a file and, for the last DRAIN
-- seconds of the run, asks for a 404 path instead. When wrk stops, it drops the requests still
-- in flight; draining first means every counted request was answered, so a counter can be
-- checked against the 200 responses exactly.
-- Arguments (after --): REQUEST_FILE DURATION_SECONDS DRAIN_SECONDS
-- Request file: one request a line, "GET /path" or "POST /path body".
local ffi = require("ffi")
ffi.cdef [[
typedef struct { long tv_sec; long tv_nsec; } vormel_timespec;
int clock_gettime(int clock, vormel_timespec* ts);
]]
local ts = ffi.new("vormel_timespec")
local function now()
  ffi.C.clock_gettime(1, ts) -- CLOCK_MONOTONIC
  return tonumber(ts.tv_sec) + tonumber(ts.tv_nsec) * 1e-9
end

local requests = {}
local drain_request
local deadline
local next_index = 1

local function load(path)
  local list = {}
  for line in io.lines(path) do
    local method, target, body = line:match("^(%u+)%s+(%S+)%s*(.*)$")
    if method then
      local headers = {}
      if method == "POST" then
        headers["Content-Type"] = "application/x-www-form-urlencoded"
      else
        body = nil
      end
      list[#list + 1] = wrk.format(method, target, headers, body)
    end
  end
  return list
end

local thread_count = 0
function setup(thread)
  thread:set("thread_number", thread_count)
  thread_count = thread_count + 1
end

function init(args)
  requests = load(args[1])
  local duration = tonumber(args[2])
  local drain = tonumber(args[3])
  deadline = now() + duration - drain
  drain_request = wrk.format("GET", "/vormel-bench-drain")
  -- Threads start at different places in a mixed list.
  next_index = ((thread_number or 0) * 7) % #requests + 1
end

function request()
  if now() >= deadline then return drain_request end
  local r = requests[next_index]
  next_index = next_index % #requests + 1
  return r
end

function done(summary, latency, _)
  local e = summary.errors
  io.write(string.format(
    'VORMEL_WRK {"requests":%d,"status_errors":%d,"connect_errors":%d,"read_errors":%d,' ..
    '"write_errors":%d,"timeouts":%d,"duration_us":%d,"p50_us":%d,"p99_us":%d,' ..
    '"mean_us":%.1f,"max_us":%d,"bytes":%d}\n',
    summary.requests, e.status, e.connect, e.read, e.write, e.timeout, summary.duration,
    latency:percentile(50), latency:percentile(99), latency.mean, latency.max, summary.bytes))
end
