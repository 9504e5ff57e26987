-- wrk script: each connection asks for a token, then sends a score with it,
-- as the game does. Run with as many threads as connections (-t N -c N):
-- the token waits in this thread's state for its submission.
local alphabet = "ABCDEFGHJKLMNPQRSTUVWXY123456789"
local token = nil
local n = 0

local function inf(text)
  local bits = {}
  for i = 1, #text do
    local b = text:byte(i)
    for k = 7, 0, -1 do bits[#bits + 1] = math.floor(b / 2 ^ k) % 2 end
  end
  while #bits % 5 ~= 0 do table.insert(bits, 1, 0) end
  local out = {}
  for i = 1, #bits, 5 do
    local v = 0
    for k = 0, 4 do v = v * 2 + bits[i + k] end
    out[#out + 1] = alphabet:sub(v + 1, v + 1)
  end
  return table.concat(out)
end

request = function()
  if token == nil then
    return wrk.format("GET", "/cgi/version.pl?version&prg=Quorvane")
  end
  n = n + 1
  local text = "type=0|name=Load" .. (n % 1000) .. "|score=" .. n .. "|key=Q|p=" .. token .. "|add=wrk|z="
  while #text % 5 ~= 0 do text = text .. "0" end
  token = nil
  return wrk.format("GET", "/cgi/version.pl?hs&prg=Quorvane&inf=" .. inf(text))
end

response = function(status, headers, body)
  if body:sub(1, 3) == "OK|" and body:sub(1, 9) ~= "OK|stored" then
    local fields = {}
    for f in body:gmatch("([^|]*)|") do fields[#fields + 1] = f end
    token = fields[5]
  elseif status ~= 200 then
    errors = (errors or 0) + 1
  end
end
