-- wrk script: counts the answers that were the board's "busy" page (the
-- catalogue text of msg90, set to a marker in the test site) and the
-- answers whose status was not 200. The marker comes from the environment
-- variable BUSY_MARKER (default BUSY-MSG90).

local threads = {}
local marker = os.getenv("BUSY_MARKER") or "BUSY-MSG90"

-- Keeps every thread so that done() can add up their counters.
function setup(thread)
   thread:set("marker", marker)
   table.insert(threads, thread)
end

function init(args)
   busy = 0
   non200 = 0
   answers = 0
end

-- Runs in each thread for every answer.
function response(status, headers, body)
   answers = answers + 1
   if status ~= 200 then
      non200 = non200 + 1
   end
   if body and string.find(body, marker, 1, true) then
      busy = busy + 1
   end
end

-- One machine-readable line for bench/load.
function done(summary, latency, requests)
   local b, x, n = 0, 0, 0
   for _, t in ipairs(threads) do
      b = b + t:get("busy")
      x = x + t:get("non200")
      n = n + t:get("answers")
   end
   io.write(string.format("LUA busy=%d non200=%d answers=%d\n", b, x, n))
end
