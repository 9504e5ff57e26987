-- wrk script: what the game does to send a score, over and over. A token
-- query, then the submission built with that token (the game's own text and
-- letter encoding), on kept-alive connections.
local alphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789"
local tokens = {}
stored, refused = 0, 0
local serial = 0
id = 0

local function encode(text)
  local out, acc, bits = {}, 0, 0
  for i = 1, #text do
    acc = bit.bor(bit.lshift(acc, 8), text:byte(i))
    bits = bits + 8
    while bits >= 5 do
      local v = bit.band(bit.rshift(acc, bits - 5), 31)
      out[#out + 1] = alphabet:sub(v + 1, v + 1)
      bits = bits - 5
      acc = bit.band(acc, bit.lshift(1, bits) - 1)
    end
  end
  return table.concat(out)
end

function setup(thread)
  id = id + 1
  thread:set("id", id)
  threads = threads or {}
  table.insert(threads, thread)
end

function request()
  local token = table.remove(tokens)
  if token == nil then
    return wrk.format("GET", "/cgi/version.pl?version&prg=Quorvane")
  end
  serial = serial + 1
  local text = "type=0|name=W" .. id .. "-" .. serial .. "|score=" .. (serial * 7 % 100000) ..
      "|key=Q|p=" .. token .. "|add=wrk|z="
  while #text % 5 ~= 0 do text = text .. "0" end
  return wrk.format("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" .. encode(text))
end

function response(status, headers, body)
  if body:sub(1, 12) == "OK|Quorvane|" then
    local fields = {}
    for f in body:gmatch("([^|]*)|") do fields[#fields + 1] = f end
    tokens[#tokens + 1] = fields[5]
  elseif body:sub(1, 9) == "OK|stored" then
    stored = stored + 1
  else
    refused = refused + 1
  end
end

function done(summary, latency, requests)
  local s, r = 0, 0
  for _, t in ipairs(threads) do
    s = s + t:get("stored")
    r = r + t:get("refused")
  end
  local seconds = summary.duration / 1e6
  io.write(string.format("token+submit pairs: %d stored in %.1f s = %.0f pairs/s; %d other replies\n", s, seconds,
    s / seconds, r))
end
