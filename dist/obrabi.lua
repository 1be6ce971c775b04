-- Wireshark dissector for obraBi audio datagrams (UDP ports 4956 and 49501).
--
-- One datagram carries one captured frame of 768 samples at 8000 Hz as G.711 A-law:
--   bytes 0..3      head: 0x02, the captured frame's head byte 1, 0x02, 0xC1
--   bytes 4..771    768 A-law codes
--   bytes 772..775  the captured frame's tail: a 16-bit frame counter, two more bytes
-- Every datagram is exactly 776 bytes; the receiving bridge drops any other length.
--
-- Install: copy to ~/.local/lib/wireshark/plugins/ (or the global plugin folder), or load it
-- for one run with   tshark -X lua_script:obrabi.lua -r capture.pcap
-- Display filters: obrabi, obrabi.counter, obrabi.counter_gap, expert info "obrabi.*"
-- (obrabi.length, obrabi.head, obrabi.gap, obrabi.repeat, obrabi.late).

local PACKET_SIZE = 776
local HEAD_SIZE = 4
local CODES = 768
local PORTS = { 4956, 49501 }

local proto = Proto("obrabi", "obraBi intercom audio")

local f = proto.fields
f.head0 = ProtoField.uint8("obrabi.head0", "Head byte 0", base.HEX)
f.head1 = ProtoField.uint8("obrabi.head1", "Head byte 1 (from the captured frame)", base.HEX)
f.marker = ProtoField.uint16("obrabi.marker", "Head bytes 2-3", base.HEX)
f.audio = ProtoField.bytes("obrabi.audio", "A-law codes")
f.peak = ProtoField.int16("obrabi.peak", "Peak level (linear, decoded)")
f.silent = ProtoField.bool("obrabi.silent", "Silence (every code 0xD5 or 0x55)")
f.counter = ProtoField.uint16("obrabi.counter", "Frame counter", base.DEC)
f.tail2 = ProtoField.uint16("obrabi.tail2", "Tail bytes 774-775", base.HEX)
f.gap = ProtoField.int32("obrabi.counter_gap", "Frames missing before this one")

local e = proto.experts
e.length = ProtoExpert.new("obrabi.length", "Datagram is not 776 bytes: the bridge drops it",
    expert.group.MALFORMED, expert.severity.ERROR)
e.head = ProtoExpert.new("obrabi.head", "Head bytes are not 0x02 .. 0x02 0xC1",
    expert.group.PROTOCOL, expert.severity.WARN)
e.gap = ProtoExpert.new("obrabi.gap", "Frame counter jumps: frames lost",
    expert.group.SEQUENCE, expert.severity.NOTE)
e.repeat_ = ProtoExpert.new("obrabi.repeat", "Frame counter repeats: the frame came twice",
    expert.group.SEQUENCE, expert.severity.NOTE)
e.late = ProtoExpert.new("obrabi.late", "Frame counter goes back: a late (reordered) frame",
    expert.group.SEQUENCE, expert.severity.NOTE)

-- ITU-T G.711 A-law expansion of one code (the 0x55 toggle of even bits, then segment and
-- mantissa), as a signed 16-bit value.
local bxor = (bit32 and bit32.bxor) or bit.bxor

local function alaw_to_linear(code)
    local a = bxor(code, 0x55)
    local sign = a >= 0x80
    a = a % 0x80
    local seg = math.floor(a / 16)
    local t = (a % 16) * 16 + 8
    if seg >= 1 then t = t + 0x100 end
    if seg > 1 then t = math.floor(t * 2 ^ (seg - 1)) end
    return sign and t or -t
end

local linear = {}
for code = 0, 255 do linear[code] = alaw_to_linear(code) end

-- Highest counter seen per direction (source and destination address and port), filled on
-- the first pass; the step found for each frame number is kept for later passes. A step is
-- the counter's distance from the highest before it, modulo 65536 and signed: 1 is the next
-- frame, more is frames lost, 0 a repeat, less than 0 a frame that comes late.
local highestCounter = {}
local stepOf = {}

function proto.init()
    highestCounter = {}
    stepOf = {}
end

local function counter_step(counter, highest)
    return (counter - highest + 32768) % 65536 - 32768
end

function proto.dissector(tvb, pinfo, tree)
    local len = tvb:len()
    pinfo.cols.protocol = "obraBi"
    local root = tree:add(proto, tvb(), "obraBi audio, " .. len .. " bytes")

    if len ~= PACKET_SIZE then
        root:add_proto_expert_info(e.length,
            "Datagram of " .. len .. " bytes, not 776: the bridge drops it")
        pinfo.cols.info = "obraBi: dropped length " .. len
    end
    if len < HEAD_SIZE then
        return len
    end

    local head = root:add(tvb(0, HEAD_SIZE), "Head")
    head:add(f.head0, tvb(0, 1))
    head:add(f.head1, tvb(1, 1))
    head:add(f.marker, tvb(2, 2))
    if tvb(0, 1):uint() ~= 0x02 or tvb(2, 2):uint() ~= 0x02C1 then
        head:add_proto_expert_info(e.head, string.format(
            "Head bytes %02X %02X %02X %02X, expected 02 xx 02 C1",
            tvb(0, 1):uint(), tvb(1, 1):uint(), tvb(2, 1):uint(), tvb(3, 1):uint()))
    end

    local ncodes = math.min(CODES, len - HEAD_SIZE)
    if ncodes > 0 then
        local audio = root:add(f.audio, tvb(HEAD_SIZE, ncodes))
        local bytes = tvb:bytes(HEAD_SIZE, ncodes)
        local peak, silent = 0, true
        for i = 0, ncodes - 1 do
            local code = bytes:get_index(i)
            local v = linear[code]
            if v < 0 then v = -v end
            if v > peak then peak = v end
            if code ~= 0xD5 and code ~= 0x55 then silent = false end
        end
        audio:add(f.peak, peak):set_generated()
        audio:add(f.silent, silent):set_generated()
    end

    if len >= PACKET_SIZE then
        local tail = root:add(tvb(772, 4), "Tail")
        local counter = tvb(772, 2):uint()
        tail:add(f.counter, tvb(772, 2))
        tail:add(f.tail2, tvb(774, 2))
        local key = tostring(pinfo.src) .. ":" .. pinfo.src_port .. ">" ..
            tostring(pinfo.dst) .. ":" .. pinfo.dst_port
        if not pinfo.visited then
            local highest = highestCounter[key]
            local step = highest ~= nil and counter_step(counter, highest) or 1
            if highest ~= nil then
                stepOf[pinfo.number] = step
            end
            if step > 0 then
                highestCounter[key] = counter
            end
        end
        local step = stepOf[pinfo.number]
        if step ~= nil then
            -- Frames missing before this one; a repeat or a late frame misses none.
            local item = tail:add(f.gap, step > 1 and step - 1 or 0):set_generated()
            if step > 1 then
                item:add_proto_expert_info(e.gap, "Frame counter jumps by " .. step)
            elseif step == 0 then
                item:add_proto_expert_info(e.repeat_, "Frame counter " .. counter .. " repeats")
            elseif step < 0 then
                item:add_proto_expert_info(e.late, "Frame counter " .. counter .. " comes " ..
                    -step .. " behind the highest: late")
            end
        end
        if len == PACKET_SIZE then
            pinfo.cols.info = string.format("obraBi frame %d", counter)
        end
    end
    return len
end

local udp = DissectorTable.get("udp.port")
for _, port in ipairs(PORTS) do
    udp:add(port, proto)
end

-- An empty datagram has no payload, and UDP hands it to no port's dissector; the bridge drops
-- and logs it all the same. A post-dissector finds it on the bridge's ports.
local udpDstPort = Field.new("udp.dstport")
local udpLength = Field.new("udp.length")
local empty = Proto("obrabi_empty", "obraBi empty datagram check")

function empty.dissector(tvb, pinfo, tree)
    local port, length = udpDstPort(), udpLength()
    if port == nil or length == nil or length.value ~= 8 then
        return
    end
    if port.value ~= PORTS[1] and port.value ~= PORTS[2] then
        return
    end
    local root = tree:add(proto, tvb(0, 0), "obraBi audio, 0 bytes")
    root:add_proto_expert_info(e.length, "Datagram of 0 bytes, not 776: the bridge drops it")
    pinfo.cols.info = "obraBi: dropped length 0"
end

register_postdissector(empty)
